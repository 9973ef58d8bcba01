// tests/i18n/i18n_guard_test.cpp: keeps the four translation files in step with the sources.
//
// Every string literal passed to i18n_tr( or marked with I18N_TEXT( in src/ and support/, plus
// the texts of tests/i18n/pending_texts.txt, must have a translation in each of lang/fr.json,
// es.json, de.json and it.json, with the same printf conversions; and no file may keep an
// entry that nothing uses any more. A screen that adds a text therefore adds its four
// translations in the same change.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>
#include <cJSON.h>
#include <gtest/gtest.h>

#include "i18n/i18n.hpp"
#include "support/test_env.hpp"

namespace fs = std::filesystem;

namespace {

const char *const kLanguages[] = {"fr", "es", "de", "it"};

// --- A small C++ lexer: just enough to find the literal arguments of i18n_tr. ---

struct Token {
    enum Kind { IDENT, STRING, PUNCT } kind;
    std::string text; // identifier, decoded string value, or the punctuation character
};

void append_utf8(std::string &out, unsigned long cp) {
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xC0 | (cp >> 6));
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += (char)(0xE0 | (cp >> 12));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    } else {
        out += (char)(0xF0 | (cp >> 18));
        out += (char)(0x80 | ((cp >> 12) & 0x3F));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    }
}

// Decodes the quoted literal starting at src[i] (the opening quote); i ends past the closing one.
std::string read_quoted(const std::string &src, size_t &i) {
    char quote = src[i++];
    std::string out;
    while (i < src.size() && src[i] != quote && src[i] != '\n') {
        char c = src[i++];
        if (c != '\\' || i >= src.size()) {
            out += c;
            continue;
        }
        char e = src[i++];
        switch (e) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'a':
            out += '\a';
            break;
        case 'b':
            out += '\b';
            break;
        case 'f':
            out += '\f';
            break;
        case 'v':
            out += '\v';
            break;
        case 'x': {
            unsigned long v = 0;
            while (i < src.size() && isxdigit((unsigned char)src[i]))
                v = v * 16 + (unsigned long)std::stoi(std::string(1, src[i++]), nullptr, 16);
            out += (char)v;
            break;
        }
        case 'u':
        case 'U': {
            size_t n = e == 'u' ? 4 : 8;
            unsigned long cp = std::stoul(src.substr(i, n), nullptr, 16);
            i += n;
            append_utf8(out, cp);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned v = (unsigned)(e - '0');
                for (int k = 0; k < 2 && i < src.size() && src[i] >= '0' && src[i] <= '7'; k++)
                    v = v * 8 + (unsigned)(src[i++] - '0');
                out += (char)v;
            } else {
                out += e; // \" \' \\ \?
            }
        }
    }
    i++; // closing quote
    return out;
}

std::vector<Token> tokenize(const std::string &src) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < src.size()) {
        char c = src[i];
        if (isspace((unsigned char)c)) {
            i++;
        } else if (src.compare(i, 2, "//") == 0) {
            i = src.find('\n', i);
            if (i == std::string::npos) i = src.size();
        } else if (src.compare(i, 2, "/*") == 0) {
            i = src.find("*/", i + 2);
            i = i == std::string::npos ? src.size() : i + 2;
        } else if (c == '"') {
            tokens.push_back({Token::STRING, read_quoted(src, i)});
        } else if (c == '\'') {
            read_quoted(src, i);
        } else if (isdigit((unsigned char)c)) {
            // A number, digit separators included (1'000).
            while (i < src.size() && (isalnum((unsigned char)src[i]) || src[i] == '.' ||
                                      src[i] == '_' || src[i] == '\''))
                i++;
        } else if (isalpha((unsigned char)c) || c == '_') {
            size_t start = i;
            while (i < src.size() && (isalnum((unsigned char)src[i]) || src[i] == '_')) i++;
            std::string ident = src.substr(start, i - start);
            bool raw =
                ident == "R" || ident == "u8R" || ident == "LR" || ident == "uR" || ident == "UR";
            if (i < src.size() && src[i] == '"' && raw) {
                size_t open = src.find('(', i);
                std::string close = ")" + src.substr(i + 1, open - i - 1) + "\"";
                size_t end = src.find(close, open);
                if (end == std::string::npos) end = src.size();
                tokens.push_back({Token::STRING, src.substr(open + 1, end - open - 1)});
                i = end == src.size() ? end : end + close.size();
            } else if (i < src.size() && src[i] == '"' &&
                       (ident == "u8" || ident == "L" || ident == "u" || ident == "U")) {
                tokens.push_back({Token::STRING, read_quoted(src, i)});
            } else if (i < src.size() && src[i] == '\'' &&
                       (ident == "u8" || ident == "L" || ident == "u" || ident == "U")) {
                read_quoted(src, i);
            } else {
                tokens.push_back({Token::IDENT, ident});
            }
        } else {
            tokens.push_back({Token::PUNCT, std::string(1, c)});
            i++;
        }
    }
    return tokens;
}

// The literal arguments of i18n_tr(...) and I18N_TEXT(...) in one source text; adjacent
// literals are joined as the compiler joins them. Calls with other arguments are not texts.
std::vector<std::string> translated_literals(const std::string &src) {
    std::vector<Token> t = tokenize(src);
    std::vector<std::string> found;
    for (size_t k = 0; k + 3 < t.size(); k++) {
        if (t[k].kind != Token::IDENT || (t[k].text != "i18n_tr" && t[k].text != "I18N_TEXT"))
            continue;
        if (t[k + 1].kind != Token::PUNCT || t[k + 1].text != "(") continue;
        size_t j = k + 2;
        std::string text;
        bool any = false;
        while (j < t.size() && t[j].kind == Token::STRING) {
            text += t[j++].text;
            any = true;
        }
        if (any && j < t.size() && t[j].kind == Token::PUNCT && t[j].text == ")")
            found.push_back(text);
    }
    return found;
}

// printf conversions of a text in order ("%s", "%.1f", "%zu"); "%%" counts too.
std::vector<std::string> conversions(const std::string &text) {
    std::vector<std::string> out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '%') continue;
        size_t j = i + 1;
        while (j < text.size() && strchr("-+ #0123456789.*'", text[j])) j++;
        while (j < text.size() && strchr("hlLqjzt", text[j])) j++;
        if (j < text.size()) {
            // Flags and widths may differ between languages; length and type may not.
            std::string spec = text.substr(i, j - i + 1);
            std::string kept = "%";
            for (char c : spec.substr(1))
                if (!strchr("-+ #0123456789'", c)) kept += c;
            out.push_back(kept);
        }
        i = j;
    }
    return out;
}

// --- Where the sources are. ---

// The source folder: LUMIKEY_SOURCE, else the one the build folder (the working directory) was
// configured from.
std::string source_dir() {
    if (const char *env = getenv("LUMIKEY_SOURCE"); env && *env) return env;
    std::ifstream cache("CMakeCache.txt");
    std::string line;
    const std::string key = "lumikey_SOURCE_DIR:STATIC=";
    while (std::getline(cache, line)) {
        if (line.rfind(key, 0) == 0) return line.substr(key.size());
    }
    return {};
}

// Every text the program passes to i18n_tr, with where it was found.
std::map<std::string, std::string> source_texts(const std::string &root) {
    std::map<std::string, std::string> texts;
    for (const char *sub : {"src", "support"}) {
        for (const auto &entry : fs::recursive_directory_iterator(fs::path(root) / sub)) {
            std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".hpp" && ext != ".h"))
                continue;
            std::string rel = fs::relative(entry.path(), root).string();
            for (const std::string &text : translated_literals(read_file(entry.path().string())))
                texts.emplace(text, rel);
        }
    }
    return texts;
}

std::vector<std::string> pending_texts(const std::string &root) {
    std::vector<std::string> out;
    std::ifstream in(root + "/tests/i18n/pending_texts.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        out.push_back(line);
    }
    return out;
}

class TranslationGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = source_dir();
        ASSERT_FALSE(root.empty()) << "no LUMIKEY_SOURCE and no CMakeCache.txt in the working "
                                      "directory: run the test from the build folder";
        ASSERT_TRUE(fs::exists(root + "/src/i18n/i18n.hpp")) << root << " holds no sources";
        texts = source_texts(root);
        for (const std::string &text : pending_texts(root)) {
            auto [it, added] = texts.emplace(text, "tests/i18n/pending_texts.txt");
            if (!added)
                ADD_FAILURE() << "\"" << text << "\" is passed to i18n_tr in " << it->second
                              << ": delete its line from tests/i18n/pending_texts.txt";
        }
        ASSERT_FALSE(texts.empty());
    }

    std::string root;
    std::map<std::string, std::string> texts; // English text -> where it is used
};

} // namespace

TEST(TranslationScannerTest, FindsTheLiteralArgumentsTheCompilerWouldSee) {
    const std::string code = R"code(
        // i18n_tr("in a line comment") is not a use
        /* nor i18n_tr("in a block comment") */
        const char *a = i18n_tr("Send");
        const char *b = i18n_tr( "Delete \"%s\"?" );
        const char *c = i18n_tr("Loop  #%u    "
                                "%u ms / unit");
        const char *d = i18n_tr(caption);            // not a literal: not a text
        const char *e = i18n_tr(ok ? "Yes" : "No");  // neither
        static const char *names[] = {I18N_TEXT("Emergency"), I18N_TEXT("Own presets")};
        const char *f = "i18n_tr(\"inside a string\")";
        int g = 1'000; char h = '"'; const char *r = R"x(i18n_tr("raw"))x";
        const char *u = i18n_tr("caf\u00e9\tline\n");
        #define I18N_TEXT(text) (text)
    )code";
    std::vector<std::string> found = translated_literals(code);
    std::vector<std::string> want = {"Send",      "Delete \"%s\"?", "Loop  #%u    %u ms / unit",
                                     "Emergency", "Own presets",    "caf\xc3\xa9\tline\n"};
    EXPECT_EQ(want, found);
}

TEST(TranslationScannerTest, ComparesConversionsByTypeNotByFlags) {
    EXPECT_EQ(conversions("%s: %u ms (%.1f WPM)"), (std::vector<std::string>{"%s", "%u", "%.f"}));
    EXPECT_EQ(conversions("%zu presets, 100%%"), (std::vector<std::string>{"%zu", "%%"}));
    EXPECT_EQ(conversions("%-5d"), conversions("%d"));
    EXPECT_NE(conversions("%s %d"), conversions("%d %s"));
}

TEST_F(TranslationGuardTest, EveryLanguageTranslatesExactlyTheTextsInUse) {
    for (const char *code : kLanguages) {
        std::string name = std::string("assets/lang/") + code + ".json";
        std::string json = read_file(root + "/" + name);
        cJSON *doc = cJSON_Parse(json.c_str());
        if (!cJSON_IsObject(doc)) {
            ADD_FAILURE() << name << " is not a JSON object";
            cJSON_Delete(doc);
            continue;
        }
        std::set<std::string> seen;
        const cJSON *entry = nullptr;
        cJSON_ArrayForEach(entry, doc) {
            std::string english = entry->string ? entry->string : "";
            if (!seen.insert(english).second)
                ADD_FAILURE() << name << " holds \"" << english << "\" twice";
            if (!texts.count(english))
                ADD_FAILURE() << name << " holds \"" << english
                              << "\", which no source passes to i18n_tr any more";
            if (!cJSON_IsString(entry) || !entry->valuestring || !entry->valuestring[0]) {
                ADD_FAILURE() << name << ": the translation of \"" << english
                              << "\" is not a non-empty text";
                continue;
            }
            if (conversions(english) != conversions(entry->valuestring))
                ADD_FAILURE() << name << ": \"" << entry->valuestring
                              << "\" does not have the printf conversions of \"" << english << "\"";
        }
        for (const auto &[english, where] : texts) {
            if (!seen.count(english))
                ADD_FAILURE() << name << " lacks \"" << english << "\" (used in " << where << ")";
        }
        cJSON_Delete(doc);
    }
}

TEST_F(TranslationGuardTest, TheShippedFilesLoadAndTranslateEveryText) {
    // The working directory is the build folder, whose assets are the copies the program uses.
    for (const char *code : kLanguages) {
        ASSERT_STREQ(code, i18n_set_language(code));
        for (const auto &[english, where] : texts) {
            const char *shown = i18n_tr(english.c_str());
            EXPECT_NE(english.c_str(), shown) << code << " leaves \"" << english << "\" in English";
        }
    }
    i18n_shutdown();
}
