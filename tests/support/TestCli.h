// tessaron-cli run as a user runs it, on the back end a test chooses, and the check of its refusals.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/TestProcess.h"

namespace testsupport {

// Runs the command-line program with the given (already quoted) arguments on the media detector
// (media) or our own AVI reader, with no input; its exit status, output and errors.
inline CommandRun RunCli(const std::string& program, const std::string& args, bool media) {
    return RunCaptureAll(std::string("TESSARON_MEDIA_DETECTOR=") + (media ? "1 " : "0 ") + ShellQuote(program) + " " +
                         args);
}

// A refusal: its exit status (2, a wrong command line, unless told), nothing on standard output, one
// line on standard error that names mention.
inline void ExpectOneLineError(const CommandRun& r, const std::string& mention, int status = 2) {
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
}

}  // namespace testsupport
