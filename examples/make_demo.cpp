// make_demo.cpp: draws the demo's pictures (two backgrounds, a figure with
// antialiased edges in three expressions, and the figure's mask) into a
// folder, with the manifest for kegkit create and the event list.
//   make_demo FOLDER
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bmp.h"

namespace {

constexpr int BG_W = 640, BG_H = 360;    // backgrounds
constexpr int FIG_W = 200, FIG_H = 280;  // the figure
constexpr int FIG_X = 220, FIG_Y = 80;   // where it stands on the backgrounds

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// Coverage of a pixel by an ellipse, with a one-pixel antialiased edge.
double ellipse(double x, double y, double cx, double cy, double rx, double ry) {
    const double d = std::sqrt(((x - cx) / rx) * ((x - cx) / rx) + ((y - cy) / ry) * ((y - cy) / ry));
    const double inside = (1.0 - d) * std::min(rx, ry);
    return std::clamp(inside + 0.5, 0.0, 1.0);
}

// A picture held top row first; written bottom-up as BMP files are.
struct Picture {
    int w, h;
    std::vector<Rgb> px;
    Picture(int width, int height) : w(width), h(height), px(size_t(width) * height) {}
    Rgb &at(int x, int y) { return px[size_t(y) * w + x]; }
};

void write_picture(const std::string &path, Picture &p) {
    const int stride = (3 * p.w + 3) & ~3;
    std::vector<uint8_t> rows(size_t(stride) * p.h, 0);
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            uint8_t *d = rows.data() + size_t(p.h - 1 - y) * stride + 3 * x;
            const Rgb c = p.at(x, y);
            d[0] = uint8_t(std::lround(std::clamp(c.b, 0.0, 255.0)));
            d[1] = uint8_t(std::lround(std::clamp(c.g, 0.0, 255.0)));
            d[2] = uint8_t(std::lround(std::clamp(c.r, 0.0, 255.0)));
        }
    write_bmp(path, rows.data(), int32_t(rows.size()), uint32_t(p.w), uint32_t(p.h), 3, 0);
}

Picture background(bool night) {
    Picture p(BG_W, BG_H);
    const Rgb sky_top = night ? Rgb{10, 14, 48} : Rgb{70, 130, 220}, sky_low = night ? Rgb{60, 40, 90} : Rgb{250, 200, 150};
    const Rgb hill = night ? Rgb{20, 40, 30} : Rgb{60, 140, 70}, far = night ? Rgb{30, 30, 60} : Rgb{120, 150, 170};
    for (int y = 0; y < BG_H; ++y)
        for (int x = 0; x < BG_W; ++x) {
            Rgb c = mix(sky_top, sky_low, double(y) / BG_H);
            const double sun = ellipse(x, y, night ? 520 : 120, 70, 30, 30);
            c = mix(c, night ? Rgb{235, 235, 210} : Rgb{255, 230, 120}, sun);
            const double ridge = 200 + 30 * std::sin(x / 70.0) + 12 * std::sin(x / 23.0);
            c = mix(c, far, std::clamp(y - ridge + 0.5, 0.0, 1.0));
            const double ground = 260 + 25 * std::sin(x / 110.0 + 1.0);
            c = mix(c, mix(hill, Rgb{hill.r * 0.6, hill.g * 0.6, hill.b * 0.6}, (y - ground) / 100.0),
                    std::clamp(y - ground + 0.5, 0.0, 1.0));
            p.at(x, y) = c;
        }
    return p;
}

// The figure's coverage (its alpha) and colours, with one of three faces.
double figure_alpha(int x, int y) {
    const double head = ellipse(x, y, 100, 70, 48, 55);
    const double body = ellipse(x, y, 100, 225, 80, 95);
    return std::max(head, body);
}

Picture figure(int expression) {
    Picture p(FIG_W, FIG_H);
    const Rgb skin{245, 205, 170}, coat{170, 40, 60}, dark{40, 30, 30};
    for (int y = 0; y < FIG_H; ++y)
        for (int x = 0; x < FIG_W; ++x) {
            Rgb c = mix(coat, skin, ellipse(x, y, 100, 70, 48, 55));
            c = mix(c, mix(c, Rgb{90, 60, 40}, 0.9), ellipse(x, y, 100, 32, 50, 26) * (y < 45));  // hair
            for (int side : {-1, 1}) {
                const double eye = expression == 2 ? ellipse(x, y, 100 + 18 * side, 65, 7, 9) : ellipse(x, y, 100 + 18 * side, 66, 5, 5);
                c = mix(c, dark, eye);
            }
            double mouth = 0;
            if (expression == 0) mouth = ellipse(x, y, 100, 98, 12, 2.5);
            if (expression == 1) mouth = ellipse(x, y, 100, 96, 16, 8) * (y > 96);
            if (expression == 2) mouth = ellipse(x, y, 100, 100, 7, 9);
            c = mix(c, Rgb{150, 40, 50}, mouth);
            p.at(x, y) = c;
        }
    return p;
}

void write_mask(const std::string &path) {
    const int stride = (FIG_W + 3) & ~3;
    std::vector<uint8_t> rows(size_t(stride) * FIG_H, 0);
    for (int y = 0; y < FIG_H; ++y)
        for (int x = 0; x < FIG_W; ++x)  // alpha = 255 - index with the writer's grey palette
            rows[size_t(FIG_H - 1 - y) * stride + x] = uint8_t(255 - std::lround(255 * figure_alpha(x, y)));
    write_bmp(path, rows.data(), int32_t(rows.size()), FIG_W, FIG_H, 1, 0);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 1;
    }
    const std::string dir = argv[1];
    std::filesystem::create_directories(dir);
    Picture day = background(false), night = background(true);
    write_picture(dir + "/bg01.bmp", day);
    write_picture(dir + "/bg02.bmp", night);
    for (int e = 0; e < 3; ++e) {
        Picture f = figure(e);
        write_picture(dir + "/fc0" + std::to_string(e + 1) + ".bmp", f);
    }
    write_mask(dir + "/fig-mask.bmp");
    std::ofstream(dir + "/demo.manifest") << "# kegkit create -r 2.13 -o demo.cgf demo.manifest\n"
                                             "picture bg01.bmp bg01.bmp\n"
                                             "picture bg02.bmp bg02.bmp\n"
                                          << "mask fig fig-mask.bmp " << FIG_X << " " << FIG_Y << "\n"
                                          << "picture fc01 fc01.bmp\n"
                                             "picture fc02 fc02.bmp rle\n"
                                             "picture fc03 fc03.bmp stored\n";
    std::ofstream(dir + "/events.txt") << "# event base delta\n"
                                          "ev01 bg01 fc01\n"
                                          "ev02 bg01 fc02\n"
                                          "ev03 bg02 fc03\n";
    return 0;
}
