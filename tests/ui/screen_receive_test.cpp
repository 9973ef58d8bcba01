// tests/ui/screen_receive_test.cpp: the receive screen's chain from frames to saved messages.
// Messages keep their boundaries however many end between two passes; Stop saves the
// message in progress (and nothing when it is empty); trace rows carry the screen light's tx;
// the desktop's Start only explains; the warning popup and Back; and a duplex send while a
// camera double films a room's light on its own thread, with messages landing in
// received.json.
// ctest-label: threaded
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>
#include <gtest/gtest.h>
#include <allegro5/allegro.h>

#include "main/app.hpp"
#include "model/model_test_env.hpp"
#include "phone/camera_capture.hpp"
#include "phone/torch.hpp"
#include "support/fake_camera.hpp"
#include "support/fake_phone.hpp"
#include "support/morse_signal.hpp"
#include "support/test_env.hpp"
#include "support/view_kit.hpp"
#include "ui/screen_receive.hpp"

namespace {

const double GAP_MS = 3000; // between messages: longer than the end-of-message silence

// The frames a camera takes of texts sent one after another at wpm.
std::vector<LIGHT_SAMPLE> light_of(const std::vector<std::string> &texts, double wpm,
                                   LIGHT_MODEL model) {
    MORSE_TIMING timing{(uint32_t)std::lround(1200 / wpm), 3, 3, 7};
    std::vector<RUN> runs;
    for (size_t i = 0; i < texts.size(); i++) {
        MORSE_SEQUENCE *seq = morse_sequence_build(texts[i].c_str(), &timing);
        std::vector<RUN> r = sequence_runs(seq);
        morse_sequence_free(&seq);
        if (i > 0) runs.push_back(RUN{0, GAP_MS});
        // A sequence ends with its word gap; the silence before the next one replaces it.
        while (!r.empty() && !r.back().on) r.pop_back();
        runs.insert(runs.end(), r.begin(), r.end());
    }
    return runs_to_light(runs, model);
}

class ReceiveScreen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(save_.ok());
        kit_.reset(new ViewKit());
        a = &kit_->app;
        settings_default(&a->settings);
        a->settings.out_sound = 0;
        a->settings.eom_timeout_ms = 1500;
        a->received = received_new();
        a->player = player_new();
        a->msg_field = a->target_id = -1;
        a->light.index = SIZE_MAX;
        al_init_user_event_source(&a->wake_source);
        a->wake_source_ready = 1;
        ASSERT_EQ(app_receiver_init(a), 1);
        a->rx_ready = 1;
        a->screen = a->built_screen = SCREEN_RECEIVE;
        cam_.install();
    }
    void TearDown() override {
        app_stop_playback(a);
        receiver_stop(&a->rx);
        player_free(&a->player);
        received_free(&a->received);
        app_receiver_destroy(a);
        al_destroy_user_event_source(&a->wake_source);
        torch_shutdown();
        torch_set_platform(nullptr);
        capture_set_platform(nullptr);
    }

    void build() { screen_receive_build(a); }
    // Clicks the button of this label the way the toolkit would.
    void click(const char *label) {
        for (int id = 1;; id++) {
            KA_GUI_WIDGET *w = ka_gui_get_widget(a->gui, id);
            ASSERT_NE(w, nullptr) << "no button \"" << label << "\"";
            if (w->type != KA_GUI_BUTTON) continue;
            KA_GUI_BUTTON_DATA *d = (KA_GUI_BUTTON_DATA *)w->data;
            if (strcmp(d->label, label) != 0) continue;
            d->on_click(id, d->user_data);
            return;
        }
    }
    std::string label_text(int id) {
        KA_GUI_WIDGET *w = ka_gui_get_widget(a->gui, id);
        return w && w->type == KA_GUI_LABEL ? ((KA_GUI_LABEL_DATA *)w->data)->text : "";
    }
    std::vector<std::string> received_texts() { // oldest first
        std::vector<std::string> out;
        for (size_t i = a->received->count; i-- > 0;) out.push_back(a->received->items[i].text);
        return out;
    }
    void feed(const std::vector<LIGHT_SAMPLE> &frames) {
        for (const LIGHT_SAMPLE &f : frames) receiver_light_sink(f.t, f.luma, &a->rx);
    }
    std::vector<std::string> traces() {
        std::vector<std::string> out;
        for (auto &e : std::filesystem::directory_iterator(save_.dir()))
            if (e.path().filename().string().rfind("trace_", 0) == 0) out.push_back(e.path());
        std::sort(out.begin(), out.end());
        return out;
    }
    // The live text view's paragraphs as the next draw would show them.
    std::vector<std::string> live() {
        TEXT_PARA paras[8] = {};
        size_t n = a->rx_text.fill(a->rx_text.user, paras, 8);
        std::vector<std::string> out;
        for (size_t i = 0; i < n; i++) out.push_back(paras[i].text);
        return out;
    }

    SaveDir save_;
    std::unique_ptr<ViewKit> kit_;
    LUMIKEY_APP *a = nullptr;
    FakeCamera cam_;
};

TEST_F(ReceiveScreen, TheDesktopExplainsAndStartsNothing) {
    capture_set_platform(nullptr);
    build();
    EXPECT_EQ(label_text(a->receive.status_label), "The camera receiver needs Android");
    screen_receive_status(a, "something else");
    click("Start");
    EXPECT_EQ(label_text(a->receive.status_label), "The camera receiver needs Android");
    EXPECT_EQ(capture_state(), 0);
    EXPECT_EQ(a->rx.active, 0);
    EXPECT_EQ(a->rx.decoder, nullptr);
}

TEST_F(ReceiveScreen, MessagesKeepTheirBoundariesWhileTheMainThreadIsAway) {
    cam_.set_frames({}); // the test thread plays the camera
    build();
    click("Start");
    ASSERT_EQ(a->rx.active, 1);
    EXPECT_EQ(cam_.last_fps, 30);
    EXPECT_EQ(live(), std::vector<std::string>{"(waiting for a signal)"});
    // More messages end than the queue first holds before the main thread's next pass: each
    // must still arrive on its own, none run into the next.
    std::vector<std::string> sent = {"CQ", "DE", "TEST", "SOS", "OK", "HI", "73", "K", "AR"};
    LIGHT_MODEL m;
    m.tail_ms = 2500;
    std::vector<LIGHT_SAMPLE> frames = light_of(sent, 15, m);
    feed(frames);
    EXPECT_EQ(a->rx.nqueue, sent.size());
    EXPECT_EQ(a->received->count, 0u) << "nothing is saved on the capture thread";
    screen_receive_update(a);
    EXPECT_EQ(a->rx.nqueue, 0u);
    EXPECT_EQ(received_texts(), sent);
    const RECEIVED_MSG &first = a->received->items[a->received->count - 1];
    EXPECT_STREQ(first.symbols, "-.-. --.-");
    EXPECT_NEAR(first.unit_ms, 80.0, 4);
    EXPECT_NEAR((double)first.when, (double)time(nullptr), 5);
    std::string file = read_file(save_.file("received.json"));
    for (const std::string &t : sent) EXPECT_NE(file.find("\"" + t + "\""), std::string::npos);
    EXPECT_EQ(std::string(a->rx.last_saved), "AR");
    EXPECT_EQ(live().back(), "Saved: AR");
    EXPECT_TRUE(traces().empty()) << "no trace without the debug overlay";

    // The queue that grew is handed back and forth as before: a later message is one message.
    for (const LIGHT_SAMPLE &f : light_of({"QRZ"}, 15, m))
        receiver_light_sink(frames.back().t + 33 + f.t, f.luma, &a->rx);
    screen_receive_update(a);
    EXPECT_EQ(received_texts().back(), "QRZ");
    EXPECT_EQ(a->received->count, sent.size() + 1);
}

TEST_F(ReceiveScreen, StopSavesTheMessageInProgressButNotAnEmptyOne) {
    cam_.set_frames({});
    build();
    click("Start");
    LIGHT_MODEL m;
    m.tail_ms = 300; // the camera is stopped long before the message would end by itself
    feed(light_of({"PARIS"}, 12, m));
    screen_receive_update(a);
    EXPECT_EQ(a->received->count, 0u);
    std::vector<std::string> shown = live();
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0], "PARIS");
    EXPECT_EQ(shown[1], ".--. .- .-. .. ...");
    click("Stop");
    EXPECT_EQ(label_text(a->receive.status_label), "Stopped");
    EXPECT_EQ(received_texts(), std::vector<std::string>{"PARIS"});
    EXPECT_EQ(std::string(a->rx.last_saved), "PARIS");
    EXPECT_EQ(live(), (std::vector<std::string>{"", "Saved: PARIS"}));
    EXPECT_EQ(a->rx.decoder, nullptr);
    EXPECT_EQ(capture_state(), 0);

    click("Start");
    m.lead_ms = 3000;
    feed(light_of({}, 12, m)); // a dark room
    click("Stop");
    EXPECT_EQ(a->received->count, 1u);
}

// A full disk: the line under the live text must not claim a save that did not happen. It says
// so, in the warning colour, until a later write has put the message into received.json.
TEST_F(ReceiveScreen, AMessageNotWrittenShowsAsNotSavedUntilARetryWritesIt) {
    cam_.set_frames({});
    build();
    click("Start");
    std::filesystem::create_directory(save_.file("received.json.tmp"));
    LIGHT_MODEL m;
    m.tail_ms = 300;
    feed(light_of({"PARIS"}, 12, m));
    click("Stop");
    EXPECT_EQ(received_texts(), std::vector<std::string>{"PARIS"}) << "kept in memory";
    EXPECT_FALSE(std::filesystem::exists(save_.file("received.json")));
    auto last_line = [&] {
        TEXT_PARA paras[8] = {};
        size_t n = a->rx_text.fill(a->rx_text.user, paras, 8);
        return n ? std::make_pair(std::string(paras[n - 1].text), paras[n - 1].rgb)
                 : std::make_pair(std::string(), 0u);
    };
    EXPECT_EQ(last_line(), std::make_pair(std::string("Not saved yet: PARIS"), 0xFFB74Du));
    std::filesystem::remove(save_.file("received.json.tmp"));
    screen_receive_update(a);
    EXPECT_EQ(last_line().first, "Not saved yet: PARIS") << "nothing has written it yet";
    EXPECT_EQ(app_save_due(a, 1e6), 1);
    screen_receive_update(a);
    EXPECT_EQ(last_line(), std::make_pair(std::string("Saved: PARIS"), 0x00E676u));
    EXPECT_NE(read_file(save_.file("received.json")).find("\"PARIS\""), std::string::npos);
}

TEST_F(ReceiveScreen, TraceRowsFollowTheScreenLight) {
    RECEIVER &rx = a->rx;
    rx.tracing = 1;
    for (int k = 0; k < 5; k++) {
        rx.trace_t[k] = 10.0f * k;
        rx.trace_luma[k] = 50.5f + k;
    }
    rx.trace_count = 5;
    const int64_t t0 = 1'000'000'000;
    char out[4096];
    receiver_format_trace(&a->rx, "CQ", -1, out, sizeof out);
    EXPECT_STREQ(out, "# text: CQ\n# t_ms,luma,tx\n0.000,50.50,-1\n10.000,51.50,-1\n"
                      "20.000,52.50,-1\n30.000,53.50,-1\n40.000,54.50,-1\n");
    receiver_format_trace(&a->rx, "", t0, out, sizeof out);
    EXPECT_STREQ(out, "# text: \n# t_ms,luma,tx\n0.000,50.50,0\n10.000,51.50,0\n"
                      "20.000,52.50,0\n30.000,53.50,0\n40.000,54.50,0\n");
    // On at 10 ms, off at 30 ms: an edge counts from its own time on.
    a->light.edge_ns[0] = t0 + 10'000'000;
    a->light.edge_on[0] = 1;
    a->light.edge_ns[1] = t0 + 30'000'000;
    a->light.edge_on[1] = 0;
    a->light.edge_count = 2;
    receiver_format_trace(&a->rx, "", t0, out, sizeof out);
    EXPECT_STREQ(out, "# text: \n# t_ms,luma,tx\n0.000,50.50,0\n10.000,51.50,1\n"
                      "20.000,52.50,1\n30.000,53.50,0\n40.000,54.50,0\n");
    // Rows that do not fit are dropped, the header stays whole.
    size_t n = receiver_format_trace(&a->rx, "", t0, out, 60);
    EXPECT_STREQ(out, "# text: \n# t_ms,luma,tx\n0.000,50.50,0\n10.000,51.50,1\n");
    EXPECT_EQ(n, strlen(out));

    // Only the last 1800 samples are kept.
    for (size_t k = 0; k < 2000; k++) {
        rx.trace_t[k % RX_TRACE_MAX] = (float)k;
        rx.trace_luma[k % RX_TRACE_MAX] = 1;
    }
    rx.trace_count = 2000;
    std::vector<char> big(80000);
    receiver_format_trace(&a->rx, "", -1, big.data(), big.size());
    std::string text(big.data());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 1800);
    EXPECT_NE(text.find("# t_ms,luma,tx\n200.000,1.00,-1\n"), std::string::npos);
    EXPECT_NE(text.find("\n1999.000,1.00,-1\n"), std::string::npos);
}

TEST_F(ReceiveScreen, TracesAreWrittenWithTheOverlayOnlyAndNeverOverwritten) {
    RECEIVER &rx = a->rx;
    rx.tracing = 0;
    rx.trace_count = 3;
    EXPECT_EQ(receiver_dump_trace(&a->rx, "X"), 0);
    EXPECT_EQ(rx.trace_count, 0u);
    EXPECT_TRUE(traces().empty());

    LogCapture log(6);
    rx.tracing = 1;
    for (int round = 0; round < 2; round++) {
        rx.trace_t[0] = 5, rx.trace_luma[0] = 9;
        rx.trace_count = 1;
        EXPECT_EQ(receiver_dump_trace(&a->rx, round ? "B" : "A"), 1);
        EXPECT_EQ(rx.trace_count, 0u);
    }
    EXPECT_EQ(receiver_dump_trace(&a->rx, "C"), 0) << "nothing new to trace";
    std::vector<std::string> files = traces();
    ASSERT_EQ(files.size(), 2u) << "two traces within a second must not share a file";
    std::string both = read_file(files[0]) + read_file(files[1]);
    EXPECT_NE(both.find("# text: A\n"), std::string::npos);
    EXPECT_NE(both.find("# text: B\n"), std::string::npos);
    EXPECT_TRUE(log.contains("debug trace written: trace_"));
    EXPECT_TRUE(log.contains(".csv (1 samples)"));
}

TEST_F(ReceiveScreen, TheWarningComesFirstAndBackClosesItThenStopsASend) {
    build();
    EXPECT_EQ(a->receive.msg_field, -1);
    click("Send + receive");
    ASSERT_GE(a->receive.warn_win, 0);
    EXPECT_TRUE(ka_gui_window_is_open(a->gui, a->receive.warn_win));
    EXPECT_EQ(a->receive.duplex, 0) << "the mode waits for Enable";
    EXPECT_EQ(screen_receive_back(a), 1);
    EXPECT_FALSE(ka_gui_window_is_open(a->gui, a->receive.warn_win));
    EXPECT_EQ(screen_receive_back(a), 0);
    click("Send + receive");
    click("Enable");
    EXPECT_EQ(a->receive.duplex, 1);
    EXPECT_EQ(a->needs_rebuild, 1);

    // Rebuilt in duplex mode, with nothing to send through: the text stays.
    ka_gui_destroy_ctx(&kit_->kit.ctx);
    kit_->kit.ctx = a->gui = ka_gui_new_ctx(kit_->kit.font);
    build();
    ASSERT_GE(a->receive.msg_field, 0);
    EXPECT_EQ(label_text(a->receive.status_label),
              "Turn on the flashlight, sound or vibration to send");
    ka_gui_textarea_set_text(a->gui, a->receive.msg_field, "HELLO");
    screen_receive_send(a);
    EXPECT_EQ(a->play_requested, 0);
    EXPECT_STREQ(ka_gui_textarea_get_text(a->gui, a->receive.msg_field), "HELLO");

    a->receive.sending = 1;
    EXPECT_EQ(screen_receive_back(a), 1);
    EXPECT_EQ(a->stop_requested, 1);
    a->receive.sending = 0;
}

TEST_F(ReceiveScreen, ChoosingTheMicrophoneStopsTheCameraAndNeedsASoundServer) {
    TempDir none;
    ScopedEnv server("PULSE_SERVER", ("unix:" + none.file("nobody-here")).c_str());
    ScopedEnv conf("PULSE_CLIENTCONFIG", none.file("none.conf").c_str());
    cam_.set_frames({});
    build();
    click("Start");
    ASSERT_EQ(a->rx.active, 1);
    LIGHT_MODEL m;
    m.tail_ms = 300;
    feed(light_of({"TEST"}, 12, m));
    click("Microphone");
    EXPECT_EQ(a->rx.active, 0);
    EXPECT_EQ(capture_state(), 0) << "the camera is released when the source changes";
    EXPECT_EQ(received_texts(), std::vector<std::string>{"TEST"});
    EXPECT_EQ(a->needs_rebuild, 1);

    ka_gui_destroy_ctx(&kit_->kit.ctx);
    kit_->kit.ctx = a->gui = ka_gui_new_ctx(kit_->kit.font);
    build();
    EXPECT_EQ(a->rx.source, RX_SOURCE_MIC);
    EXPECT_EQ(label_text(a->receive.status_label), "Press Start to listen to the microphone");
    click("Start");
    // The connection is made on the capture thread; the screen learns of its failure on a pass.
    for (int i = 0; i < 250 && a->rx.active; i++) {
        al_rest(0.02);
        screen_receive_update(a);
    }
    EXPECT_EQ(label_text(a->receive.status_label), "No sound input: is a sound server running?");
    EXPECT_EQ(a->rx.active, 0);
    EXPECT_EQ(a->rx.decoder, nullptr);
    EXPECT_EQ(cam_.starts, 1) << "the microphone source never opens the camera";
}

TEST_F(ReceiveScreen, LongTextsAreShortenedOnACharacterBoundary) {
    char out[64];
    screen_receive_short_text("SHORT", out, sizeof out);
    EXPECT_STREQ(out, "SHORT");
    std::string t47(47, 'A');
    screen_receive_short_text(t47.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), t47);
    std::string t48 = std::string(43, 'A') + "\xc3\xa9" + "BBB"; // é across bytes 43-44
    screen_receive_short_text(t48.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(43, 'A') + "...");
}

// The whole chain on two threads: the camera double films a room (sensor noise, the room light
// drifting, a lamp that blooms) at 30 fps on its own thread while the screen sends through the
// flashlight, and the main thread keeps the loop's pace.
TEST_F(ReceiveScreen, DuplexSendWhileTheCameraReceives) {
    FakePhone phone;
    TORCH_PLATFORM torch = phone.torch();
    torch_set_platform(&torch);
    a->settings.out_torch = 1;
    a->settings.debug_overlay = 1;
    a->settings.timing.unit_ms = 60;
    LIGHT_MODEL room;
    room.noise = 4;
    room.drift = 40;
    room.drift_period_ms = 20000;
    room.afterglow_ms = 15;
    room.lead_ms = 1500;
    room.tail_ms = 2500;
    std::vector<std::string> sent = {"CQ CQ", "DE F4ABC"};
    cam_.set_frames(light_of(sent, 15, room));
    cam_.speed = 3;

    a->receive.duplex = 1;
    build();
    click("Start");
    ASSERT_EQ(a->rx.active, 1);
    EXPECT_EQ(label_text(a->receive.status_label), "Point the camera at the blinking light");
    ka_gui_textarea_set_text(a->gui, a->receive.msg_field, "HI");
    screen_receive_send(a);
    ASSERT_EQ(a->play_requested, 1);
    app_apply_requests(a);
    EXPECT_EQ(a->screen, SCREEN_RECEIVE) << "a duplex send stays on the receive screen";
    EXPECT_EQ(a->receive.sending, 1);
    EXPECT_GT(capture_state(), 0) << "the send must not stop the camera";
    EXPECT_EQ(label_text(a->receive.status_label), "Sending: HI");
    EXPECT_STREQ(ka_gui_textarea_get_text(a->gui, a->receive.msg_field), "");

    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((a->received->count < sent.size() || a->receive.sending) &&
           std::chrono::steady_clock::now() < until) {
        screen_receive_update(a);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(a->receive.sending, 0);
    EXPECT_EQ(label_text(a->receive.status_label), "Sent");
    EXPECT_GE(phone.names().size(), 2u) << "the flashlight followed the send";
    ASSERT_TRUE(cam_.wait_done());
    click("Stop");
    EXPECT_EQ(received_texts(), sent);
    for (size_t i = 0; i < a->received->count; i++) {
        const RECEIVED_MSG &r = a->received->items[i];
        EXPECT_NEAR(r.unit_ms, 80.0, 8) << r.text;
        EXPECT_NE(r.symbols[0], '\0');
        EXPECT_NEAR((double)r.when, (double)time(nullptr), 120);
    }
    std::string file = read_file(save_.file("received.json"));
    EXPECT_NE(file.find("\"DE F4ABC\""), std::string::npos);
    EXPECT_NE(file.find("\"symbols\""), std::string::npos);

    // The first message's trace holds the frames up to it, with the light's state beside them.
    std::vector<std::string> files = traces();
    ASSERT_GE(files.size(), 1u);
    std::string trace = read_file(files[0]);
    EXPECT_EQ(trace.rfind("# text: CQ CQ\n# t_ms,luma,tx\n", 0), 0u) << trace.substr(0, 80);
    EXPECT_NE(trace.find(",1\n"), std::string::npos) << "no frame saw the light on";
    EXPECT_EQ(trace.find(",-1\n"), std::string::npos);
}

} // namespace
