// JPEG codec over a CxStream, on libjpeg's 6b interface.
#pragma once

#include "image/ximage.h"

class CxImageJPEG : public CxImage {
public:
    CxImageJPEG();
    // A codec that works on owner's memory without owning it; lives only inside one call.
    explicit CxImageJPEG(CxImage& owner);
    ~CxImageJPEG() override = default;

    using CxImage::Decode;
    using CxImage::Encode;
    bool Encode(CxStream* stream);
    bool Decode(CxStream* stream);

private:
    bool DecodeScanlines(struct jpeg_decompress_struct* cinfo);
};
