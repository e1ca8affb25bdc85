// The YUV to BGR kernel: vector and plain code agree to the bit, and both round the textbook
// conversion (with linearly upsampled chroma) to the nearest value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "video/MediaYuv.h"

namespace {

struct Matrix {
    const char* name;
    double kr, kb;
};
const Matrix kMatrices[] = {{"BT.601", 0.299, 0.114}, {"BT.709", 0.2126, 0.0722}, {"BT.2020", 0.2627, 0.0593}};

// Textbook B, G, R of one sample (chroma as a real number, before centring).
void Reference(double y, double u, double v, const Matrix& m, bool full, double bgr[3]) {
    double ys = full ? y : (y - 16) * 255.0 / 219.0;
    double us = full ? u - 128 : (u - 128) * 255.0 / 224.0;
    double vs = full ? v - 128 : (v - 128) * 255.0 / 224.0;
    double r = ys + 2 * (1 - m.kr) * vs;
    double b = ys + 2 * (1 - m.kb) * us;
    double g = (ys - m.kr * r - m.kb * b) / (1 - m.kr - m.kb);
    bgr[0] = std::clamp(b, 0.0, 255.0);
    bgr[1] = std::clamp(g, 0.0, 255.0);
    bgr[2] = std::clamp(r, 0.0, 255.0);
}

TEST(YuvRow, VectorAndPlainCodeAgreeForEveryWidth) {
    std::mt19937 random(7);
    for (const Matrix& mx : kMatrices) {
        for (bool full : {false, true}) {
            YuvMatrix m = MakeYuvMatrix(mx.kr, mx.kb, full);
            for (int width = 1; width <= 41; ++width) {
                std::vector<uint8_t> y(static_cast<size_t>(width));
                std::vector<int16_t> u(size_t(width) + 8), v(size_t(width) + 8);
                for (auto& s : y) s = uint8_t(random());
                // Extremes included: chroma runs from 0 to 255 (times 16, centred).
                for (auto& s : u) s = int16_t(int(random() % 4081) - 2048);
                for (auto& s : v) s = int16_t(int(random() % 4081) - 2048);
                u[0] = v[0] = -2048;
                if (width > 1) u[1] = v[1] = 2032;
                std::vector<uint8_t> fast(size_t(3 * width) + 1, 0xAB), plain(size_t(3 * width) + 1, 0xAB);
                YuvRowToBgr(y.data(), u.data(), v.data(), width, m, fast.data(), true);
                YuvRowToBgr(y.data(), u.data(), v.data(), width, m, plain.data(), false);
                ASSERT_EQ(fast, plain) << mx.name << " full " << full << " width " << width;
                EXPECT_EQ(fast.back(), 0xAB) << "nothing written past the row";
            }
        }
    }
}

TEST(YuvRow, RoundsTheTextbookConversion) {
    for (const Matrix& mx : kMatrices) {
        for (bool full : {false, true}) {
            YuvMatrix m = MakeYuvMatrix(mx.kr, mx.kb, full);
            double worst = 0;
            std::vector<uint8_t> y(256);
            std::vector<int16_t> u(264), v(264);
            std::vector<uint8_t> out(3 * 256);
            for (int cb = 0; cb < 256; cb += 5) {
                for (int cr = 0; cr < 256; cr += 3) {
                    for (int i = 0; i < 256; ++i) {
                        y[size_t(i)] = uint8_t(i);
                        u[size_t(i)] = int16_t(16 * cb - 2048);
                        v[size_t(i)] = int16_t(16 * cr - 2048);
                    }
                    YuvRowToBgr(y.data(), u.data(), v.data(), 256, m, out.data());
                    for (int i = 0; i < 256; ++i) {
                        double bgr[3];
                        Reference(i, cb, cr, mx, full, bgr);
                        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(out[size_t(3 * i + c)] - bgr[c]));
                    }
                }
            }
            EXPECT_LT(worst, 0.52) << mx.name << (full ? " full" : " limited") << " range";
        }
    }
}

// Whole pictures: chroma sited as the format says and linearly interpolated, odd sizes included.
TEST(YuvPicture, ChromaUpsamplingAndOddSizes) {
    std::mt19937 random(11);
    const Matrix& mx = kMatrices[1];
    for (int shiftX : {0, 1}) {
        for (int shiftY : {0, 1}) {
            if (shiftY && !shiftX) continue;  // 4:4:0 is not one of the layouts
            for (bool centred : {false, true}) {
                for (int width : {1, 2, 3, 17, 34}) {
                    for (int height : {1, 2, 5, 8}) {
                        const int cw = (width + shiftX) >> shiftX, ch = (height + shiftY) >> shiftY;
                        std::vector<uint8_t> yp(size_t(width * height)), up(size_t(cw * ch)), vp(size_t(cw * ch));
                        for (auto& s : yp) s = uint8_t(16 + random() % 220);
                        for (auto& s : up) s = uint8_t(16 + random() % 225);
                        for (auto& s : vp) s = uint8_t(16 + random() % 225);
                        YuvPlanes planes{
                            {yp.data(), up.data(), vp.data()}, {width, cw, cw}, width, height, shiftX, shiftY, centred};
                        const int64_t stride = 3 * width + 5;
                        std::vector<uint8_t> out(size_t(stride * height), 0xCD);
                        std::vector<int16_t> scratch;
                        ASSERT_TRUE(YuvToBgr(planes, MakeYuvMatrix(mx.kr, mx.kb, false), out.data(), stride, &scratch));
                        auto chroma = [&](const std::vector<uint8_t>& plane, int x, int y) {
                            // Vertical: centred between two luma rows; horizontal: as sited.
                            auto at = [&](int cx, int cy) {
                                return double(
                                    plane[size_t(std::clamp(cy, 0, ch - 1) * cw + std::clamp(cx, 0, cw - 1))]);
                            };
                            auto row = [&](int cx) {
                                if (!shiftY) return at(cx, y);
                                int k = y / 2;
                                return 0.75 * at(cx, k) + 0.25 * at(cx, (y & 1) ? k + 1 : k - 1);
                            };
                            if (!shiftX) return row(x);
                            int i = x / 2;
                            if (centred) return 0.75 * row(i) + 0.25 * row((x & 1) ? i + 1 : i - 1);
                            return (x & 1) ? 0.5 * (row(i) + row(i + 1)) : row(i);
                        };
                        for (int y = 0; y < height; ++y) {
                            for (int x = 0; x < width; ++x) {
                                double bgr[3];
                                Reference(yp[size_t(y * width + x)], chroma(up, x, y), chroma(vp, x, y), mx, false,
                                          bgr);
                                for (int c = 0; c < 3; ++c)
                                    ASSERT_NEAR(out[size_t(y * stride + 3 * x + c)], bgr[c], 0.52)
                                        << "x " << x << " y " << y << " shift " << shiftX << shiftY << " centred "
                                        << centred << " size " << width << "x" << height;
                            }
                            for (int64_t b = 3 * width; b < stride; ++b)
                                ASSERT_EQ(out[size_t(y * stride + b)], 0xCD) << "row filler untouched";
                        }
                    }
                }
            }
        }
    }
}

// A part converts exactly as it comes out of the whole picture: chroma at its edges is interpolated
// from its true neighbours, whatever the parity of its corner.
TEST(YuvPicture, PartsAreExactlyTheirPlaceInTheWhole) {
    std::mt19937 random(5);
    const YuvMatrix m = MakeYuvMatrix(0.2126, 0.0722, false);
    struct Layout {
        int shiftX, shiftY;
        bool centred;
    };
    for (Layout layout : {Layout{1, 1, false}, Layout{1, 1, true}, Layout{1, 0, false}, Layout{0, 0, false}}) {
        const int width = 37, height = 11;
        const int cw = (width + layout.shiftX) >> layout.shiftX, ch = (height + layout.shiftY) >> layout.shiftY;
        std::vector<uint8_t> yp(size_t(width * height)), up(size_t(cw * ch)), vp(size_t(cw * ch));
        for (auto* plane : {&yp, &up, &vp})
            for (auto& s : *plane) s = uint8_t(random());
        const YuvPlanes planes{{yp.data(), up.data(), vp.data()},
                               {width, cw, cw},
                               width,
                               height,
                               layout.shiftX,
                               layout.shiftY,
                               layout.centred};
        const int64_t stride = 3 * width;
        std::vector<uint8_t> whole(size_t(stride * height));
        std::vector<int16_t> scratch;
        ASSERT_TRUE(YuvToBgr(planes, m, whole.data(), stride, &scratch));
        for (int left : {0, 1, 2, 7, 20, 36}) {
            for (int top : {0, 1, 4, 10}) {
                for (int w : {1, 2, 9, 17, width}) {
                    for (int h : {1, 3, height}) {
                        const bool inside = left + w <= width && top + h <= height;
                        std::vector<uint8_t> part(size_t(3 * w * h) + 1, 0xEE);
                        ASSERT_EQ(YuvToBgrPart(planes, m, left, top, w, h, part.data(), 3 * w, &scratch), inside);
                        if (!inside) continue;
                        for (int y = 0; y < h; ++y)
                            ASSERT_TRUE(std::equal(part.begin() + 3 * w * y, part.begin() + 3 * w * (y + 1),
                                                   whole.begin() + (top + y) * stride + 3 * left))
                                << "layout " << layout.shiftX << layout.shiftY << layout.centred << " box " << left
                                << "," << top << " " << w << "x" << h << " row " << y;
                        EXPECT_EQ(part.back(), 0xEE) << "nothing written past the part";
                    }
                }
            }
        }
    }
}

// 10- and 12-bit samples: the vector code agrees with the plain code to the bit in every layout, and
// both round the textbook conversion of the samples scaled to 8 bits.
TEST(YuvDeep, VectorAndPlainAgreeAndRoundTheTextbookConversion) {
    std::mt19937 random(13);
    struct Layout {
        int shiftX, shiftY;
        bool centred;
    };
    for (int depth : {10, 12}) {
        const int top = (1 << depth) - 1;
        const double scale = 1.0 / (1 << (depth - 8));
        for (const Matrix& mx : kMatrices) {
            for (bool full : {false, true}) {
                const YuvMatrix m = MakeYuvMatrix(mx.kr, mx.kb, full, depth);
                for (Layout l : {Layout{1, 1, false}, Layout{1, 1, true}, Layout{1, 0, false}, Layout{0, 0, false}}) {
                    const int width = 45, height = 5;  // 45: the AVX2, SSE2 and plain code all get a share
                    const int cw = (width + l.shiftX) >> l.shiftX, ch = (height + l.shiftY) >> l.shiftY;
                    std::vector<uint16_t> yp(size_t(width * height)), up(size_t(cw * ch)), vp(size_t(cw * ch));
                    for (auto* plane : {&yp, &up, &vp})
                        for (auto& s : *plane) s = uint16_t(random() % (top + 1));
                    yp[0] = up[0] = vp[0] = 0;
                    yp[1] = up[1] = vp[1] = uint16_t(top);
                    const YuvPlanes planes{{reinterpret_cast<const uint8_t*>(yp.data()),
                                            reinterpret_cast<const uint8_t*>(up.data()),
                                            reinterpret_cast<const uint8_t*>(vp.data())},
                                           {2 * width, 2 * cw, 2 * cw},
                                           width,
                                           height,
                                           l.shiftX,
                                           l.shiftY,
                                           l.centred,
                                           depth};
                    std::vector<uint8_t> fast(size_t(3 * width * height)), plain(fast.size());
                    std::vector<int16_t> scratch;
                    ASSERT_TRUE(YuvToBgr(planes, m, fast.data(), 3 * width, &scratch, true));
                    ASSERT_TRUE(YuvToBgr(planes, m, plain.data(), 3 * width, &scratch, false));
                    ASSERT_EQ(fast, plain) << depth << " bits " << mx.name << " full " << full << " layout " << l.shiftX
                                           << l.shiftY << l.centred;
                }
                // Rounding, on flat chroma: every luma value against a grid of chroma values.
                double worst = 0;
                std::vector<uint16_t> y(size_t(top + 1));
                std::vector<int16_t> u(y.size() + 8), v(y.size() + 8);
                std::vector<uint8_t> out(3 * y.size());
                for (int i = 0; i <= top; ++i) y[size_t(i)] = uint16_t(i);
                for (int cb = 0; cb <= top; cb += top / 37) {
                    for (int cr = 0; cr <= top; cr += top / 23) {
                        std::fill(u.begin(), u.end(), int16_t(16 * cb - (2048 << (depth - 8))));
                        std::fill(v.begin(), v.end(), int16_t(16 * cr - (2048 << (depth - 8))));
                        YuvRowToBgr(y.data(), u.data(), v.data(), top + 1, m, out.data());
                        for (int i = 0; i <= top; ++i) {
                            double bgr[3];
                            Reference(i * scale, cb * scale, cr * scale, mx, full, bgr);
                            for (int c = 0; c < 3; ++c)
                                worst = std::max(worst, std::abs(out[size_t(3 * i + c)] - bgr[c]));
                        }
                    }
                }
                EXPECT_LT(worst, 0.52) << depth << " bits " << mx.name << (full ? " full" : " limited");
            }
        }
    }
}

}  // namespace
