// What an exception caught at a no-throw interface was, for its report.
#pragma once

#include <exception>
#include <new>
#include <string>

// Only inside a catch block: outOfMemory for std::bad_alloc, what() for any other std::exception,
// "unexpected error" for anything else. Throws nothing (an empty text if even that cannot be built).
inline std::string CurrentExceptionText(const std::string& outOfMemory = "out of memory") noexcept {
    try {
        try {
            throw;
        } catch (const std::bad_alloc&) {
            return outOfMemory;
        } catch (const std::exception& e) {
            return e.what();
        } catch (...) {
            return "unexpected error";
        }
    } catch (...) {
        return std::string();
    }
}
