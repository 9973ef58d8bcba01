// tests/support/camera_scene.cpp: the room, the lamp and the camera, frame by frame; the
// encoder for film_to_file.
#include "support/camera_scene.hpp"

#include <algorithm>
#include <cmath>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace {

// The lamp's brightness (0..1) every millisecond: the keyed state through the lamp's lag.
std::vector<float> lamp_curve(const std::vector<RUN> &runs, const CAMERA_SCENE &s, double lead_ms,
                              double total_ms) {
    std::vector<float> out((size_t)total_ms + 2, 0.0f);
    double t = lead_ms;
    std::vector<std::pair<double, int>> edges;
    for (const RUN &r : runs) {
        edges.push_back({t, r.on});
        t += r.ms;
    }
    edges.push_back({t, 0});
    size_t e = 0;
    int state = 0;
    double level = 0;
    for (size_t ms = 0; ms < out.size(); ms++) {
        while (e < edges.size() && edges[e].first <= (double)ms) state = edges[e++].second;
        double tau = state ? s.lag_on_ms : s.lag_off_ms;
        double k = tau > 0 ? 1 - std::exp(-1.0 / tau) : 1.0;
        level += k * ((double)state - level);
        out[ms] = (float)level;
    }
    return out;
}

struct Camera {
    const CAMERA_SCENE &s;
    std::mt19937_64 rng;
    std::normal_distribution<double> gauss{0.0, 1.0};
    std::uniform_real_distribution<double> uni{0.0, 1.0};
    std::vector<uint8_t> texture; // the room's own pattern, wider than the picture for the shake
    std::vector<float> lamp;
    double gain = 1, step_gain = 1, next_step_ms = 800;
    int margin = 8;

    Camera(const CAMERA_SCENE &scene, std::vector<float> curve)
        : s(scene), rng(scene.seed * 7919 + 3), lamp(std::move(curve)) {
        int tw = s.w + 2 * margin, th = s.h + 2 * margin;
        texture.resize((size_t)tw * th);
        // Soft blotches and a few straight edges: furniture, a window frame.
        for (int y = 0; y < th; y++)
            for (int x = 0; x < tw; x++) {
                double v = s.room + 18 * std::sin(x * 0.05 + s.seed) * std::cos(y * 0.07) +
                           (x > tw * 0.3 && x < tw * 0.45 ? 40 : 0) + (y > th * 0.8 ? -25 : 0);
                texture[(size_t)y * tw + x] = (uint8_t)std::clamp(v, 0.0, 255.0);
            }
    }

    float lamp_at(double t_ms) const {
        if (t_ms < 0) return 0;
        size_t k = std::min(lamp.size() - 1, (size_t)t_ms);
        return lamp[k];
    }

    // One frame taken at t_ms (its first row).
    void take(double t_ms, std::vector<uint8_t> &out) {
        int tw = s.w + 2 * margin;
        double sx = s.shake_px > 0 ? s.shake_px * std::sin(t_ms / 173.0) : 0;
        double sy = s.shake_px > 0 ? s.shake_px * std::cos(t_ms / 211.0) : 0;
        int ox = margin + (int)lround(sx), oy = margin + (int)lround(sy);
        int side = (int)lround(std::sqrt(s.light_pct / 100.0 * s.w * s.h));
        int lx0 = (int)lround(s.cx * s.w - side / 2.0) - (ox - margin);
        int ly0 = (int)lround(s.cy * s.h - side / 2.0) - (oy - margin);
        double person_x = s.w * (0.45 + 0.3 * std::sin(2 * M_PI * t_ms / 1400.0));
        double mean = 0;
        std::vector<double> scene((size_t)s.w * s.h);
        for (int y = 0; y < s.h; y++) {
            double row_t = t_ms + (s.rolling_ms > 0 ? s.rolling_ms * y / s.h : 0);
            float lamp_level = s.light ? lamp_at(row_t) : 0.0f;
            double flick = s.flicker ? 0.5 + 0.5 * std::cos(2 * M_PI * 100.0 * row_t / 1000.0) : 0;
            for (int x = 0; x < s.w; x++) {
                double v = texture[(size_t)(y + oy) * tw + x + ox];
                if (s.person && std::fabs(x - person_x) < s.w * 0.18 && y > s.h * 0.15)
                    v = 35 + 10 * std::sin(y * 0.3); // the coat, folds and all
                if (s.flicker && x < s.w * 0.15 && y > s.h * 0.6 && y < s.h * 0.8)
                    v = 90 + 150 * flick;
                if (s.light && x >= lx0 && x < lx0 + side && y >= ly0 && y < ly0 + side)
                    v += (s.lamp - v) * lamp_level;
                scene[(size_t)y * s.w + x] = v;
                mean += v;
            }
        }
        mean /= (double)s.w * s.h;
        if (s.exposure_steps && t_ms >= next_step_ms) {
            step_gain = 0.8 + 0.4 * uni(rng);
            next_step_ms = t_ms + 600 + 1400 * uni(rng);
        }
        if (s.auto_exposure) {
            // Aims the picture's mean at 100 over a quarter of a second, as webcams do.
            double want = 100.0 / std::max(mean, 1.0);
            double dt = 1000.0 / s.fps;
            gain += (want - gain) * (1 - std::exp(-dt / 250.0));
        }
        double g = (s.auto_exposure ? gain : 1.0) * step_gain;
        out.resize((size_t)s.w * s.h);
        for (size_t i = 0; i < out.size(); i++) {
            double v = scene[i] * g + (s.noise > 0 ? s.noise * gauss(rng) : 0);
            out[i] = (uint8_t)std::clamp(lround(v), 0L, 255L);
        }
    }
};

} // namespace

void film_runs(const std::vector<RUN> &runs, const CAMERA_SCENE &scene, double lead_ms,
               double tail_ms, const std::function<void(const VIDEO_FRAME &)> &frame) {
    double total = lead_ms + tail_ms;
    for (const RUN &r : runs) total += r.ms;
    Camera cam(scene, lamp_curve(runs, scene, lead_ms, total + scene.rolling_ms + 1));
    std::vector<uint8_t> grey;
    double period = 1000.0 / scene.fps, last = -1;
    for (long k = 0;; k++) {
        double t = k * period + (scene.jitter_ms > 0 ? scene.jitter_ms * cam.gauss(cam.rng) : 0);
        if (k * period > total) break;
        if (t <= last) t = last + 0.5;
        if (scene.drop > 0 && cam.uni(cam.rng) < scene.drop) continue;
        cam.take(t, grey);
        last = t;
        VIDEO_FRAME f{grey.data(), scene.w, scene.h, scene.w, t};
        frame(f);
    }
}

bool film_to_file(const std::string &path, const std::vector<RUN> &runs, const CAMERA_SCENE &scene,
                  double lead_ms, double tail_ms) {
    AVFormatContext *fmt = nullptr;
    if (avformat_alloc_output_context2(&fmt, nullptr, nullptr, path.c_str()) < 0 || !fmt)
        return false;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream *st = codec ? avformat_new_stream(fmt, nullptr) : nullptr;
    AVCodecContext *enc = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame *pic = av_frame_alloc();
    AVPacket *pkt = av_packet_alloc();
    bool ok = st && enc && pic && pkt;
    if (ok) {
        enc->width = scene.w;
        enc->height = scene.h;
        enc->pix_fmt = AV_PIX_FMT_YUV420P;
        enc->time_base = AVRational{1, 1000}; // every frame keeps its own millisecond
        enc->framerate = AVRational{(int)lround(scene.fps), 1};
        enc->gop_size = 30;
        enc->max_b_frames = 0;
        enc->flags |= AV_CODEC_FLAG_QSCALE;
        enc->global_quality = FF_QP2LAMBDA * 3;
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ok = avcodec_open2(enc, codec, nullptr) >= 0 &&
             avcodec_parameters_from_context(st->codecpar, enc) >= 0;
        st->time_base = enc->time_base;
    }
    if (ok && !(fmt->oformat->flags & AVFMT_NOFILE))
        ok = avio_open(&fmt->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    if (ok) ok = avformat_write_header(fmt, nullptr) >= 0;
    if (ok) {
        pic->format = enc->pix_fmt;
        pic->width = scene.w;
        pic->height = scene.h;
        ok = av_frame_get_buffer(pic, 0) >= 0;
    }
    auto drain = [&](AVFrame *f) {
        if (avcodec_send_frame(enc, f) < 0) return false;
        while (avcodec_receive_packet(enc, pkt) == 0) {
            av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
            pkt->stream_index = st->index;
            if (av_interleaved_write_frame(fmt, pkt) < 0) return false;
        }
        return true;
    };
    int64_t last_pts = -1;
    if (ok) {
        film_runs(runs, scene, lead_ms, tail_ms, [&](const VIDEO_FRAME &f) {
            if (!ok || av_frame_make_writable(pic) < 0) {
                ok = false;
                return;
            }
            for (int y = 0; y < f.h; y++)
                std::copy(f.grey + (size_t)y * f.stride, f.grey + (size_t)y * f.stride + f.w,
                          pic->data[0] + (size_t)y * pic->linesize[0]);
            for (int y = 0; y < f.h / 2; y++) {
                std::fill(pic->data[1] + (size_t)y * pic->linesize[1],
                          pic->data[1] + (size_t)y * pic->linesize[1] + f.w / 2, 128);
                std::fill(pic->data[2] + (size_t)y * pic->linesize[2],
                          pic->data[2] + (size_t)y * pic->linesize[2] + f.w / 2, 128);
            }
            int64_t pts = std::max(last_pts + 1, (int64_t)llround(f.t_ms));
            pic->pts = last_pts = pts;
            ok = drain(pic);
        });
    }
    if (ok) ok = drain(nullptr) && av_write_trailer(fmt) >= 0;
    av_packet_free(&pkt);
    av_frame_free(&pic);
    avcodec_free_context(&enc);
    if (fmt && !(fmt->oformat->flags & AVFMT_NOFILE)) avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    return ok;
}
