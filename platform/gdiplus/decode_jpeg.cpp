// JPEG through libjpeg-turbo: baseline and progressive, grey, YCbCr, RGB,
// CMYK and YCCK.
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>

#include "morvik/gdiplus/image_decode.h"

namespace Gdiplus::decode {
namespace {

// Progressive files with thousands of scans take minutes to decode; real
// ones have a dozen.
constexpr int kMaxScans = 500;
// What libjpeg may allocate for one picture (the coefficients of a
// progressive picture at the pixel limit fit).
constexpr long kMaxJpegMemory = 1L << 29;

// Everything one decompression needs, in plain data: it lives in the frame
// of DecodeJpeg and is only touched by the C-like functions below.
struct JpegJob {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    jpeg_progress_mgr progress;
    jmp_buf jump;
};

JpegJob* JobOf(j_common_ptr c) { return reinterpret_cast<JpegJob*>(reinterpret_cast<char*>(c->err) - offsetof(JpegJob, err)); }

// libjpeg must not return from error_exit: it jumps back to the setjmp of
// StartJpeg or ReadJpegRows.
[[noreturn]] void JpegFail(j_common_ptr c) { longjmp(JobOf(c)->jump, 1); }
void JpegQuiet(j_common_ptr) {}
// Warnings are tolerated, except running out of data: libjpeg would fill
// the rest of a cut file with grey and call it a picture.
void JpegMessage(j_common_ptr c, int level) {
    if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF) JpegFail(c);
}
void JpegProgress(j_common_ptr c) {
    if (c->is_decompressor && reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) JpegFail(c);
}

// The functions below are the only frames libjpeg jumps to. They hold no
// object with a destructor and change no local after setjmp.

// Reads the header and chooses the output: grey, B, G, R, or C, M, Y, K.
bool StartJpeg(JpegJob* job, const uint8_t* data, size_t size) {
    if (setjmp(job->jump)) return false;
    jpeg_create_decompress(&job->cinfo);
    job->cinfo.mem->max_memory_to_use = kMaxJpegMemory;
    job->cinfo.progress = &job->progress;
    jpeg_mem_src(&job->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&job->cinfo, TRUE);
    switch (job->cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE: job->cinfo.out_color_space = JCS_GRAYSCALE; break;
        case JCS_CMYK:
        case JCS_YCCK: job->cinfo.out_color_space = JCS_CMYK; break;
        default: job->cinfo.out_color_space = JCS_EXT_BGR; break;
    }
    jpeg_calc_output_dimensions(&job->cinfo);
    return true;
}

// CMYK scan lines into B, G, R. Files with an Adobe marker store the inks
// inverted, as Photoshop writes them.
void CmykToBgr(const JSAMPLE* in, uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[0] = static_cast<uint8_t>((y * k + 127) / 255);
        out[1] = static_cast<uint8_t>((m * k + 127) / 255);
        out[2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

// Decodes into the rows of the picture, which has the output size StartJpeg
// found; CMYK goes through scratch (4 bytes a pixel) first.
bool ReadJpegRows(JpegJob* job, Picture* out, JSAMPLE* scratch) {
    if (setjmp(job->jump)) return false;
    j_decompress_ptr cinfo = &job->cinfo;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_width != static_cast<JDIMENSION>(out->width) ||
        cinfo->output_height != static_cast<JDIMENSION>(out->height)) {
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        uint8_t* row = out->Row(static_cast<INT>(cinfo->output_scanline));
        JSAMPROW target = scratch != nullptr ? scratch : row;
        if (jpeg_read_scanlines(cinfo, &target, 1) != 1) return false;
        if (scratch != nullptr) CmykToBgr(scratch, row, cinfo->output_width, cinfo->saw_Adobe_marker != 0);
    }
    return true;
}

struct JpegCleanup {
    JpegJob* job;
    ~JpegCleanup() { jpeg_destroy_decompress(&job->cinfo); }
};

}  // namespace

Status DecodeJpeg(const uint8_t* data, size_t size, Picture& out) {
    JpegJob job{};
    job.cinfo.err = jpeg_std_error(&job.err);
    job.err.error_exit = JpegFail;
    job.err.output_message = JpegQuiet;
    job.err.emit_message = JpegMessage;
    job.progress.progress_monitor = JpegProgress;
    // Destroying a structure that was never created does nothing.
    JpegCleanup cleanup{&job};
    if (!StartJpeg(&job, data, size)) return InvalidParameter;

    const jpeg_decompress_struct& cinfo = job.cinfo;
    if (Status s = CheckSize(cinfo.output_width, cinfo.output_height); s != Ok) return s;
    const bool grey = cinfo.out_color_space == JCS_GRAYSCALE;
    const bool cmyk = cinfo.out_color_space == JCS_CMYK;
    if (cinfo.output_components != (grey ? 1 : (cmyk ? 4 : 3))) return InvalidParameter;
    if (Status s = out.Allocate(cinfo.output_width, cinfo.output_height,
                                grey ? PixelFormat8bppIndexed : PixelFormat24bppRGB);
        s != Ok) {
        return s;
    }
    std::vector<JSAMPLE> scratch(cmyk ? static_cast<size_t>(out.width) * 4 : 0);
    if (!ReadJpegRows(&job, &out, cmyk ? scratch.data() : nullptr)) {
        return InvalidParameter;
    }
    if (cinfo.saw_JFIF_marker && (cinfo.density_unit == 1 || cinfo.density_unit == 2)) {
        const double k = cinfo.density_unit == 2 ? 2.54 : 1.0;
        out.SetDpi(cinfo.X_density * k, cinfo.Y_density * k);
    }
    return Ok;
}

}  // namespace Gdiplus::decode
