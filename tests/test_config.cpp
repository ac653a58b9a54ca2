// varkon_classic's configuration file: the reading rules in process, and the start-up of
// the built program (the default file, the file beside the program).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "frontend/config.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"

using namespace varkon;

namespace {

std::string text_to_read;

// Reads `text` as a configuration file and returns what was printed.
std::string read_text(const std::string& text) {
    test::use_classic();
    text_to_read = text;
    return test::capture_stdout([] {
        std::FILE* in = fmemopen(text_to_read.data(), text_to_read.size(), "r");
        read_config_stream(in);
        std::fclose(in);
    });
}

}  // namespace

TEST(ConfigFile, NumbersAreClampedAndNeverOverflow) {
    const char* const cases[][2] = {
        {"HASH 1000", "HASH     \t\t: 512 MB\n"},
        {"HASH 0", "HASH     \t\t: 2 MB\n"},
        {"HASH 99999999999999999999999999", "HASH     \t\t: 512 MB\n"},
        {"HASH -99999999999999999999999999", "HASH     \t\t: 2 MB\n"},
        {"HASH 48MB", "HASH     \t\t: 48 MB\n"},
        {"RESIGN_VALUE -1000", "RESIGN_VALUE\t\t: -900\n"},
        {"RESIGN_VALUE -999", "RESIGN_VALUE\t\t: -999\n"},
        {"RESIGN_VALUE -50", "RESIGN_VALUE\t\t: -100\n"},
        {"RESIGN_VALUE -9999999999999999999999", "RESIGN_VALUE\t\t: -900\n"},
        {"RESIGN_COUNT 0", "RESIGN_COUNT\t\t: 1\n"},
        {"RESIGN_COUNT 254", "RESIGN_COUNT\t\t: 254\n"},
        {"RESIGN_COUNT 300", "RESIGN_COUNT\t\t: 12\n"},
        {"EGTB_CACHE_SIZE 0", "EGTB_CACHE_SIZE\t\t: 1 MB\n"},
        {"EGTB_CACHE_SIZE 7.9", "EGTB_CACHE_SIZE\t\t: 7 MB\n"},
        {"THREADS 0", "THREADS     \t\t: 1\n"},
        {"THREADS 99999999999999999999", "THREADS     \t\t: 256\n"},
        {"THREADS 3x", "THREADS     \t\t: 3\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(read_text(c[0]), c[1]) << c[0];
    EXPECT_EQ(egtb_settings().cache_mb, 7.0);
    EXPECT_EQ(configuration().threads, 3);   // kept for the start-up, which starts them
}

TEST(ConfigFile, WordsCommentsAndSkippedLines) {
    EXPECT_EQ(read_text("USE_BOOK 1\nBOOK_STYLE random\nBOOK_NAME my.dat\nEGTB_PATH /tb\nDRAW yes\nLOGFILE 1\nRESIGN on\n"
                        "# HASH 8\njunk HASH 16\nHASH 32 # comment\nHASH 64 BOOK_STYLE fancy junk HASH 128\n#" +
                        std::string(50000, '-') + " HASH 8\r\n\t\nDRAW\nLOGFILE on\r\nRESIGN_COUNT"),
              "USE_BOOK \t\t: on\nBOOK_STYLE\t\t: random\nBOOK_NAME \t\t: my.dat\nEGTB_PATH\t\t: /tb\n"
              "DRAW        \t\t: yes\nLOGFILE     \t\t: 1\nRESIGN    \t\t: on\nHASH     \t\t: 32 MB\n"
              "HASH     \t\t: 64 MB\nBOOK_STYLE\t\t: ?\nDRAW        \t\t: LOGFILE\n"
              "RESIGN_COUNT without a value: not changed\n");
    EXPECT_EQ(book_options.on + book_options.style, 1 + 3);  // an unknown style changes nothing
    EXPECT_EQ(book_options.name + egtb_settings().path, "my.dat/tb");
    EXPECT_FALSE(configuration().draw);  // only "on" and "1" switch on; the word is echoed
    EXPECT_TRUE(configuration().log && configuration().resign);
    EXPECT_EQ(configuration().hash_mb, 64);
    // Any other word switches off; case matters; a byte-order mark does not.
    EXPECT_EQ(read_text("\xEF\xBB\xBFUSE_BOOK On\nhash 16\n"), "USE_BOOK \t\t: off\n");
    EXPECT_EQ(book_options.on, 0);
}

// Words, not lines: a value may stand on a later line than its keyword, and a line may hold
// any number of pairs.
TEST(ConfigFile, AValueIsTheNextWordWhereverItStands) {
    EXPECT_EQ(read_text("HASH\n16\n"), "HASH     \t\t: 16 MB\n");
    EXPECT_EQ(read_text("HASH\r\n\r\n\t 24 junk HASH 8\nBOOK_STYLE\rnormal DRAW on\nRESIGN_VALUE # no number\nRESIGN on"),
              "HASH     \t\t: 24 MB\nBOOK_STYLE\t\t: normal\nDRAW        \t\t: on\nRESIGN_VALUE\t\t: -100\n"
              "RESIGN    \t\t: on\n");
    EXPECT_EQ(configuration().hash_mb + book_options.style, 24 + 2);
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "HASH 8 ";
    EXPECT_EQ(test::count(read_text(many + "HASH 16 USE_BOOK off\n"), "\n"), 3002);
    EXPECT_EQ(configuration().hash_mb, 16);
    EXPECT_EQ(book_options.on, 0);
}

TEST(ConfigFile, BinaryBytesAndLongNamesAreBounded) {
    std::string binary = "HASH 8\n";
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 37) % 256);
    static const char with_nul[] = "\nBOOK_NAME a\0b\nEGTB_CACHE_SIZE 3\n";
    binary += std::string(with_nul, sizeof with_nul - 1);
    const std::string out = read_text(binary);
    EXPECT_NE(out.find("HASH     \t\t: 8 MB\n"), std::string::npos);
    EXPECT_NE(out.find("BOOK_NAME \t\t: a\nEGTB_CACHE_SIZE\t\t: 3 MB\n"), std::string::npos);  // NUL ends a word

    const std::string longest(MAX_CONFIG_NAME, 'p');
    EXPECT_EQ(read_text("BOOK_NAME " + longest + "\nEGTB_PATH " + longest + "q\nBOOK_NAME " + std::string(1 << 20, 'n')),
              "BOOK_NAME \t\t: " + longest + "\nEGTB_PATH is longer than 4095 characters: not changed\n"
              "BOOK_NAME is longer than 4095 characters: not changed\n");
    EXPECT_EQ(book_options.name, longest);
    EXPECT_EQ(egtb_settings().path, "c:/tb");
}

// ---- start-up of the built program --------------------------------------------------------

// A UCI client starting the engine in a new directory: the first start writes the default
// file and plays with its settings (the log from the option on); the second reads the file.
TEST(ConfigStartup, AUciClientInAnEmptyDirectory) {
    const test::WorkDir dir;
    for (int start = 1; start <= 2; ++start) {
        test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
        engine.send("uci\nsetoption name LogFile value true\nisready\nposition startpos moves d2d4 g8f6 c2c4 e7e6 g1f3 b7b6"
                    "\ngo wtime 2000 btime 2000\n");
        ASSERT_TRUE(engine.wait_for_line("bestmove", 20000)) << engine.output();
        EXPECT_EQ(engine.quit(), 0);
        const std::string first = "Author Dravenholt\n\nError (Varkon.ini not found!)\nnew Varkon.ini created.. \n";
        EXPECT_EQ(engine.output().find(first) != std::string::npos, start == 1) << engine.output();
        EXPECT_NE(engine.output().find("reading config file...\nHASH     \t\t: 64 MB\nEGTB_PATH\t\t: c:\\tb\n"),
                  std::string::npos);
        EXPECT_EQ(dir.read("Varkon.ini"), default_config_text());
        EXPECT_NE(dir.read("Varkon_v5.11c.log").find("\nbestmove "), std::string::npos);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);  // nothing else
}

TEST(ConfigStartup, UnwritableUnreadableAndBesideTheProgram) {
    // /proc takes no new files, and no user's directory can be made there either: the same
    // default settings are used. (The user's directory serving instead: tests/install_test.sh.)
    const char* const old_config_home = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = old_config_home != nullptr ? old_config_home : "";
    setenv("XDG_CONFIG_HOME", "/proc/none", 1);
    std::string out = test::run_engine(VARKON_CLASSIC_BIN, "board\nquit\n", nullptr, "/proc");
    if (old_config_home != nullptr)
        setenv("XDG_CONFIG_HOME", kept.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_NE(out.find("Error (Varkon.ini not found!)\ncan't create Varkon.ini (No such file or directory; /proc/none: "),
              std::string::npos) << out;
    EXPECT_NE(out.find("): going on with the default settings\nreading config file...\nHASH     \t\t: 64 MB\n"),
              std::string::npos);
    EXPECT_NE(out.find("pos_value : "), std::string::npos);

    // A copy of the program with its configuration beside it, started in a directory whose
    // Varkon.ini is a directory, then in one without any.
    const test::WorkDir home("HASH 4\n"), work;
    const std::string copy = home.file("varkon_classic");
    std::filesystem::copy_file(VARKON_CLASSIC_BIN, copy);
    std::filesystem::create_directory(work.file("Varkon.ini"));
    out = test::run_engine(copy, "quit\n", nullptr, work.path());
    EXPECT_NE(out.find("can't read Varkon.ini (not a regular file): going on with the default settings\n"),
              std::string::npos);
    std::filesystem::remove(work.file("Varkon.ini"));
    out = test::run_engine(copy, "quit\n", nullptr, work.path());
    EXPECT_NE(out.find("reading config file...\nHASH     \t\t: 4 MB\nSEARCH_HASH \t\t: 2 MB"), std::string::npos) << out;
    EXPECT_FALSE(work.exists("Varkon.ini"));
}
