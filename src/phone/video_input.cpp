// src/phone/video_input.cpp: FFmpeg's demuxer, decoder and scaler turned into a grey frame
// source. Devices are found with Video4Linux's own query; reading them is libavdevice's.
#include "phone/video_input.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include "support/ka_common.hpp"

struct VIDEO_INPUT {
    AVFormatContext *fmt = nullptr;
    AVCodecContext *dec = nullptr;
    SwsContext *sws = nullptr;
    AVPacket *pkt = nullptr;
    AVFrame *frame = nullptr;
    int stream = -1;
    int device = 0;
    int out_w = 0, out_h = 0;
    int sws_w = 0, sws_h = 0, sws_fmt = -1; // what the scaler was made for
    uint8_t *grey = nullptr;
    double rate = 0;
    double last_ms = -1;
    int64_t frames = 0;
    int flushing = 0;
};

static void _say(char *err, size_t size, const char *what, int averr) {
    if (!err || !size) return;
    char why[128] = "";
    if (averr) av_strerror(averr, why, sizeof why);
    snprintf(err, size, "%s%s%s", what, why[0] ? ": " : "", why);
}

static int _is_device_path(const char *path) {
    return !strncmp(path, "/dev/video", 10);
}

void video_close(VIDEO_INPUT **v) {
    if (!v || !*v) return;
    VIDEO_INPUT *p = *v;
    sws_freeContext(p->sws);
    av_frame_free(&p->frame);
    av_packet_free(&p->pkt);
    avcodec_free_context(&p->dec);
    avformat_close_input(&p->fmt);
    free(p->grey);
    delete p;
    *v = nullptr;
}

VIDEO_INPUT *video_open(const char *path, int w, int h, int fps, char *err, size_t err_size) {
    if (err && err_size) err[0] = '\0';
    __ka_assert(path && path[0], return nullptr);
    av_log_set_level(AV_LOG_QUIET);
    VIDEO_INPUT *v = new (std::nothrow) VIDEO_INPUT;
    if (!v) {
        _say(err, err_size, "out of memory", 0);
        return nullptr;
    }
    const AVInputFormat *in = nullptr;
    AVDictionary *opts = nullptr;
    if (_is_device_path(path)) {
        avdevice_register_all();
        in = av_find_input_format("video4linux2");
        v->device = 1;
        char size[32], rate[16];
        snprintf(size, sizeof size, "%dx%d", w > 0 ? w : 640, h > 0 ? h : 480);
        snprintf(rate, sizeof rate, "%d", fps > 0 ? fps : 30);
        av_dict_set(&opts, "video_size", size, 0);
        av_dict_set(&opts, "framerate", rate, 0);
    }
    int rc = avformat_open_input(&v->fmt, path, in, &opts);
    av_dict_free(&opts);
    if (rc < 0) {
        _say(err, err_size, "cannot open", rc);
        video_close(&v);
        return nullptr;
    }
    if ((rc = avformat_find_stream_info(v->fmt, nullptr)) < 0) {
        _say(err, err_size, "not a video", rc);
        video_close(&v);
        return nullptr;
    }
    const AVCodec *codec = nullptr;
    v->stream = av_find_best_stream(v->fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (v->stream < 0 || !codec) {
        _say(err, err_size, "no video in it", 0);
        video_close(&v);
        return nullptr;
    }
    AVStream *st = v->fmt->streams[v->stream];
    v->dec = avcodec_alloc_context3(codec);
    v->pkt = av_packet_alloc();
    v->frame = av_frame_alloc();
    if (!v->dec || !v->pkt || !v->frame) {
        _say(err, err_size, "out of memory", 0);
        video_close(&v);
        return nullptr;
    }
    avcodec_parameters_to_context(v->dec, st->codecpar);
    v->dec->thread_count = 1; // frames one by one as they come: no decoder delay to add
    if ((rc = avcodec_open2(v->dec, codec, nullptr)) < 0) {
        _say(err, err_size, "cannot decode it", rc);
        video_close(&v);
        return nullptr;
    }
    int iw = v->dec->width, ih = v->dec->height;
    if (iw <= 0 || ih <= 0) {
        _say(err, err_size, "no picture size", 0);
        video_close(&v);
        return nullptr;
    }
    // The working size keeps the picture's shape, within VIDEO_WORK_W x VIDEO_WORK_H.
    double scale = std::min(1.0, std::min((double)VIDEO_WORK_W / iw, (double)VIDEO_WORK_H / ih));
    v->out_w = std::max(8, (int)lround(iw * scale)) & ~1;
    v->out_h = std::max(8, (int)lround(ih * scale)) & ~1;
    v->grey = (uint8_t *)malloc((size_t)v->out_w * v->out_h);
    if (!v->grey) {
        _say(err, err_size, "out of memory", 0);
        video_close(&v);
        return nullptr;
    }
    AVRational r = st->avg_frame_rate.num ? st->avg_frame_rate : st->r_frame_rate;
    v->rate = r.num && r.den ? av_q2d(r) : 0;
    return v;
}

int video_is_device(const VIDEO_INPUT *v) {
    __ka_assert(v, return 0);
    return v->device;
}

double video_frame_rate(const VIDEO_INPUT *v) {
    __ka_assert(v, return 0);
    return v->rate;
}

// The decoded frame's time: its stream time stamp, else its place in the stream.
static double _frame_ms(VIDEO_INPUT *v) {
    AVStream *st = v->fmt->streams[v->stream];
    int64_t pts = v->frame->best_effort_timestamp;
    double ms;
    if (pts != AV_NOPTS_VALUE) {
        ms = (double)pts * av_q2d(st->time_base) * 1000.0;
    } else {
        ms = (double)v->frames * 1000.0 / (v->rate > 0 ? v->rate : 30.0);
    }
    // A stamp that does not move forward would be dropped by every reader of the light.
    if (v->last_ms >= 0 && ms <= v->last_ms) ms = v->last_ms + 0.001;
    v->last_ms = ms;
    v->frames++;
    return ms;
}

static int _convert(VIDEO_INPUT *v, VIDEO_FRAME *out) {
    AVFrame *f = v->frame;
    if (!v->sws || v->sws_w != f->width || v->sws_h != f->height || v->sws_fmt != f->format) {
        sws_freeContext(v->sws);
        // Area averaging: a small light shrinks to its mean brightness instead of flickering
        // between the pixels a point sampler would pick.
        v->sws = sws_getContext(f->width, f->height, (AVPixelFormat)f->format, v->out_w, v->out_h,
                                AV_PIX_FMT_GRAY8, SWS_AREA, nullptr, nullptr, nullptr);
        v->sws_w = f->width, v->sws_h = f->height, v->sws_fmt = f->format;
        if (!v->sws) return -1;
    }
    uint8_t *dst[4] = {v->grey, nullptr, nullptr, nullptr};
    int dst_stride[4] = {v->out_w, 0, 0, 0};
    sws_scale(v->sws, f->data, f->linesize, 0, f->height, dst, dst_stride);
    out->grey = v->grey;
    out->w = v->out_w;
    out->h = v->out_h;
    out->stride = v->out_w;
    out->t_ms = _frame_ms(v);
    return 1;
}

int video_read(VIDEO_INPUT *v, VIDEO_FRAME *out) {
    __ka_assert(v && out, return -1);
    for (;;) {
        int rc = avcodec_receive_frame(v->dec, v->frame);
        if (rc == 0) {
            int ok = _convert(v, out);
            av_frame_unref(v->frame);
            return ok;
        }
        if (rc == AVERROR_EOF) return 0;
        if (rc != AVERROR(EAGAIN)) return -1;
        if (v->flushing) return 0;
        rc = av_read_frame(v->fmt, v->pkt);
        if (rc == AVERROR_EOF) {
            // The decoder may still hold frames: drain it.
            v->flushing = 1;
            avcodec_send_packet(v->dec, nullptr);
            continue;
        }
        if (rc == AVERROR(EAGAIN)) continue;
        if (rc < 0) return v->device ? -1 : 0; // a file's damaged tail reads as its end
        if (v->pkt->stream_index == v->stream) {
            int sent = avcodec_send_packet(v->dec, v->pkt);
            av_packet_unref(v->pkt);
            // A corrupt packet costs its frame, not the rest of the stream.
            if (sent < 0 && sent != AVERROR(EAGAIN) && sent != AVERROR_INVALIDDATA) return -1;
        } else {
            av_packet_unref(v->pkt);
        }
    }
}

size_t video_list_devices(VIDEO_DEVICE *out, size_t max) {
    __ka_assert(out || max == 0, return 0);
    DIR *dir = opendir("/dev");
    if (!dir) return 0;
    int numbers[64];
    size_t n = 0;
    while (dirent *e = readdir(dir)) {
        int k;
        char tail;
        if (sscanf(e->d_name, "video%d%c", &k, &tail) != 1 || k < 0 || n >= 64) continue;
        numbers[n++] = k;
    }
    closedir(dir);
    std::sort(numbers, numbers + n);
    size_t found = 0;
    for (size_t i = 0; i < n && found < max; i++) {
        char path[64];
        snprintf(path, sizeof path, "/dev/video%d", numbers[i]);
        int fd = open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        v4l2_capability cap;
        memset(&cap, 0, sizeof cap);
        int ok = ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        close(fd);
        if (!ok) continue;
        uint32_t caps =
            cap.capabilities & V4L2_CAP_DEVICE_CAPS ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE)) continue;
        ka_copy_text(out[found].path, sizeof out[found].path, path);
        ka_copy_text(out[found].name, sizeof out[found].name, (const char *)cap.card);
        ka_copy_text(out[found].bus, sizeof out[found].bus, (const char *)cap.bus_info);
        found++;
    }
    return found;
}
