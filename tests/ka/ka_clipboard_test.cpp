// tests/ka/ka_clipboard_test.cpp: the X11 selection service against the real xclip: offering text
// on CLIPBOARD and PRIMARY, large texts in chunks, reading another owner's text, releasing,
// a peer that never answers, and running without a display.
// ctest-label: threaded
// ctest-label: display
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include "support/ka_clipboard.hpp"
#include "support/ka_gui.hpp"
#include "support/ka_log.hpp"
#include "support/test_env.hpp"

namespace {

// Runs a shell command and returns its standard output; *status gets its exit status.
std::string run(const std::string &cmd, int *status = nullptr) {
    std::string out;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string xclip_out(const char *selection, const char *target = nullptr, int *status = nullptr) {
    std::string cmd = std::string("timeout 10 xclip -selection ") + selection + " -o";
    if (target) cmd += std::string(" -t ") + target;
    return run(cmd + " 2>/dev/null", status);
}

// An xclip that owns CLIPBOARD in the foreground until killed.
class XclipOwner {
public:
    explicit XclipOwner(const std::string &text) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[0], 0);
            int null_fd = open("/dev/null", O_WRONLY);
            if (null_fd >= 0) {
                dup2(null_fd, 1);
                dup2(null_fd, 2);
            }
            close(fds[0]);
            close(fds[1]);
            execlp("xclip", "xclip", "-quiet", "-selection", "clipboard", "-i", "-t", "UTF8_STRING",
                   (char *)nullptr);
            _exit(127);
        }
        close(fds[0]);
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += (size_t)n;
        }
        close(fds[1]);
    }
    ~XclipOwner() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    XclipOwner(const XclipOwner &) = delete;
    XclipOwner &operator=(const XclipOwner &) = delete;

private:
    pid_t pid_ = -1;
};

// Polls ka_clipboard_get until it yields want or about 10 s have passed.
std::string get_until(int which, const std::string &want) {
    std::string got;
    for (int i = 0; i < 100; i++) {
        char *text = ka_clipboard_get(which);
        got = text ? text : "";
        free(text);
        if (got == want) break;
        usleep(100 * 1000);
    }
    return got;
}

class ClipboardTest : public ::testing::Test {
protected:
    // Xvfb resets itself whenever its last client leaves, and refuses connections meanwhile;
    // holding one connection for the whole suite keeps the server steady between tests.
    // The server may still be resetting after the previous test program left: retry a while.
    static void SetUpTestSuite() {
        for (int i = 0; i < 50 && !keeper; i++) {
            keeper = XOpenDisplay(nullptr);
            if (!keeper) usleep(100 * 1000);
        }
    }
    static void TearDownTestSuite() {
        if (keeper) XCloseDisplay(keeper);
        keeper = nullptr;
    }
    static Display *keeper;
    void SetUp() override { ASSERT_EQ(ka_clipboard_init(), 0) << "needs an X display"; }
    void TearDown() override { ka_clipboard_destroy(); }
};

Display *ClipboardTest::keeper = nullptr;

TEST_F(ClipboardTest, OtherProgramsReadWhatWeOfferOnBothSelections) {
    EXPECT_EQ(ka_clipboard_available(), 1);
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "h\xC3\xA9llo clipboard"), 0);
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "primary text"), 0);
    EXPECT_EQ(xclip_out("clipboard"), "h\xC3\xA9llo clipboard");
    EXPECT_EQ(xclip_out("primary"), "primary text");
    std::string targets = xclip_out("clipboard", "TARGETS");
    for (const char *t :
         {"TARGETS", "UTF8_STRING", "STRING", "TEXT", "text/plain", "text/plain;charset=utf-8"}) {
        EXPECT_NE(targets.find(t), std::string::npos) << t << " missing from " << targets;
    }
    EXPECT_EQ(xclip_out("clipboard", "text/plain"), "h\xC3\xA9llo clipboard");
    // Our own selection is answered from the stored copy.
    char *own = ka_clipboard_get(KA_CLIPBOARD_PRIMARY);
    ASSERT_NE(own, nullptr);
    EXPECT_STREQ(own, "primary text");
    free(own);
    EXPECT_EQ(ka_clipboard_set(2, "x"), -1);
    EXPECT_EQ(ka_clipboard_get(-1), nullptr);
}

TEST_F(ClipboardTest, ALargeTextGoesOutInChunks) {
    std::string big;
    for (int i = 0; big.size() < 1200000; i++) big += "line " + std::to_string(i) + "\n";
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, big.c_str()), 0);
    std::string got = xclip_out("clipboard");
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
    // The transfer slot was freed: a second large read works as well.
    EXPECT_TRUE(xclip_out("clipboard") == big);
}

TEST_F(ClipboardTest, TextAnotherProgramOffersIsReadBack) {
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "ours"), 0);
    {
        XclipOwner owner("from xclip \xE2\x9C\x93");
        // Once xclip has taken the selection our copy is dropped and the owner is asked.
        EXPECT_EQ(get_until(KA_CLIPBOARD_CLIPBOARD, "from xclip \xE2\x9C\x93"),
                  "from xclip \xE2\x9C\x93");
    }
    std::string big(700000, 'z');
    XclipOwner owner(big);
    EXPECT_TRUE(get_until(KA_CLIPBOARD_CLIPBOARD, big) == big);
}

// Peak resident memory of this process so far, in MiB.
double peak_mib() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (double)usage.ru_maxrss / 1024.0;
}

// A paste takes 4,095 bytes: a foreign text of 29 MB, which comes in chunks, must cost no more
// than that, not the whole text and a copy of it.
TEST_F(ClipboardTest, AForeignTextIsReadOnlyUpToTheLengthAsked) {
    std::string big;
    for (int i = 0; big.size() < 29000000; i++) big += "word" + std::to_string(i) + " ";
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, nullptr), 0);
    XclipOwner owner(big);
    double before = peak_mib();
    std::string got;
    for (int i = 0; i < 100 && got.empty(); i++) {
        char *text = ka_clipboard_get_prefix(KA_CLIPBOARD_CLIPBOARD, 4095);
        got = text ? text : "";
        free(text);
        if (got.empty()) usleep(100 * 1000);
    }
    EXPECT_TRUE(got == big.substr(0, 4095)) << got.size() << " bytes: " << got.substr(0, 40);
    EXPECT_LT(peak_mib() - before, 8.0) << "MiB more at the peak for a 4,095-byte paste";

    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "our own text"), 0);
    char *own = ka_clipboard_get_prefix(KA_CLIPBOARD_PRIMARY, 7);
    EXPECT_STREQ(own, "our own");
    free(own);
}

TEST_F(ClipboardTest, AnEmptyTextReleasesTheSelection) {
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "short-lived"), 0);
    EXPECT_EQ(xclip_out("clipboard"), "short-lived");
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, ""), 0);
    int status = 0;
    EXPECT_EQ(xclip_out("clipboard", nullptr, &status), "");
    EXPECT_NE(status, 0);
    EXPECT_EQ(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD), nullptr);
}

TEST_F(ClipboardTest, AnOwnerThatNeverAnswersCostsAboutTwoSeconds) {
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, nullptr), 0);
    Display *dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, 1, 1, 0, 0, 0);
    XSetSelectionOwner(dpy, XInternAtom(dpy, "CLIPBOARD", False), w, CurrentTime);
    XSync(dpy, False); // owns the selection from here on, and never reads a request
    auto start = std::chrono::steady_clock::now();
    char *text = ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(text, nullptr);
    free(text);
    EXPECT_GE(waited, 1.5);
    EXPECT_LT(waited, 15.0);
    XCloseDisplay(dpy);
}

TEST_F(ClipboardTest, DestroyStopsTheServiceAndItCanStartAgain) {
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "before"), 0);
    ka_clipboard_destroy();
    ka_clipboard_destroy(); // a second destroy is harmless
    int status = 0;
    xclip_out("primary", nullptr, &status);
    EXPECT_NE(status, 0); // the owner window went with the connection
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_PRIMARY, "after"), 0); // starts it again
    EXPECT_EQ(xclip_out("primary"), "after");
}

TEST_F(ClipboardTest, ACopySurvivesAContextRebuildAndGoesWithTheLastContext) {
    ASSERT_TRUE(al_init());
    al_init_font_addon();
    ALLEGRO_FONT *font = al_create_builtin_font();
    ASSERT_NE(font, nullptr);
    KA_GUI_CTX *old_ctx = ka_gui_new_ctx(font);
    ASSERT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "copied on one screen"), 0);
    // The program builds the next screen's context before dropping the old one.
    KA_GUI_CTX *new_ctx = ka_gui_new_ctx(font);
    ka_gui_destroy_ctx(&old_ctx);
    EXPECT_EQ(xclip_out("clipboard"), "copied on one screen");
    char *text = ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "copied on one screen");
    free(text);
    ka_gui_destroy_ctx(&new_ctx);
    int status = 0;
    EXPECT_EQ(xclip_out("clipboard", nullptr, &status), "");
    EXPECT_NE(status, 0);
    al_destroy_font(font);
}

TEST(ClipboardNoDisplayTest, EveryCallRetriesAndLogsWithoutADisplay) {
    ka_clipboard_destroy();
    ScopedEnv no_display("DISPLAY", ":4987");
    LogCapture log(LOG_INFO);
    EXPECT_EQ(ka_clipboard_available(), 0);
    EXPECT_EQ(ka_clipboard_available(), 0);
    EXPECT_EQ(ka_clipboard_set(KA_CLIPBOARD_CLIPBOARD, "x"), -1);
    EXPECT_EQ(ka_clipboard_get(KA_CLIPBOARD_CLIPBOARD), nullptr);
    std::string text = log.text();
    size_t count = 0;
    const std::string line = "ka_clipboard: no X11 display, clipboard backend disabled";
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        count++;
    EXPECT_EQ(count, 4u);
}

} // namespace
