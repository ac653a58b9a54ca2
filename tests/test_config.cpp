// varkon_classic's configuration file: the reading rules in process, and the start-up
// against the built program (the default file, the file beside the program).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "book/book.h"
#include "egtb/probe_egtb.h"
#include "frontend/config.h"
#include "support/engine_process.h"
#include "support/engine_setup.h"
#include "support/workdir.h"

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
    struct Case {
        const char* line;
        const char* printed;
        int Configuration::*field;
        int stored;
    };
    const Case cases[] = {
        {"HASH 1000", "HASH     \t\t: 512 MB\n", &Configuration::hash_mb, 512},
        {"HASH 0", "HASH     \t\t: 2 MB\n", &Configuration::hash_mb, 2},
        {"HASH 99999999999999999999999999", "HASH     \t\t: 512 MB\n", &Configuration::hash_mb, 512},
        {"HASH -99999999999999999999999999", "HASH     \t\t: 2 MB\n", &Configuration::hash_mb, 2},
        {"HASH 48MB", "HASH     \t\t: 48 MB\n", &Configuration::hash_mb, 48},
        {"HASH lots", "HASH     \t\t: 2 MB\n", &Configuration::hash_mb, 2},
        {"RESIGN_VALUE -1000", "RESIGN_VALUE\t\t: -900\n", &Configuration::resign_value, -900},
        {"RESIGN_VALUE -999", "RESIGN_VALUE\t\t: -999\n", &Configuration::resign_value, -999},
        {"RESIGN_VALUE -101", "RESIGN_VALUE\t\t: -101\n", &Configuration::resign_value, -101},
        {"RESIGN_VALUE -50", "RESIGN_VALUE\t\t: -100\n", &Configuration::resign_value, -100},
        {"RESIGN_VALUE -9999999999999999999999", "RESIGN_VALUE\t\t: -900\n", &Configuration::resign_value, -900},
        {"RESIGN_COUNT 0", "RESIGN_COUNT\t\t: 1\n", &Configuration::resign_count, 1},
        {"RESIGN_COUNT 2", "RESIGN_COUNT\t\t: 2\n", &Configuration::resign_count, 2},
        {"RESIGN_COUNT 254", "RESIGN_COUNT\t\t: 254\n", &Configuration::resign_count, 254},
        {"RESIGN_COUNT 300", "RESIGN_COUNT\t\t: 12\n", &Configuration::resign_count, 12},
        {"RESIGN_COUNT 99999999999999999999", "RESIGN_COUNT\t\t: 12\n", &Configuration::resign_count, 12},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_text(c.line), c.printed) << c.line;
        EXPECT_EQ(configuration().*c.field, c.stored) << c.line;
    }
    EXPECT_EQ(read_text("EGTB_CACHE_SIZE 0\nEGTB_CACHE_SIZE 7.9"), "EGTB_CACHE_SIZE\t\t: 1 MB\nEGTB_CACHE_SIZE\t\t: 7 MB\n");
    EXPECT_EQ(egtb_cache_size, 7.0);
    EXPECT_EQ(read_text("EGTB_CACHE_SIZE 100"), "EGTB_CACHE_SIZE\t\t: 32 MB\n");
}

TEST(ConfigFile, SwitchesStylesAndNamesReachTheirModules) {
    EXPECT_EQ(read_text("USE_BOOK 1\nBOOK_STYLE random\nBOOK_NAME my.dat\nEGTB_PATH /tb\nDRAW yes\nLOGFILE 1\nRESIGN on\n"),
              "USE_BOOK \t\t: on\nBOOK_STYLE\t\t: random\nBOOK_NAME \t\t: my.dat\nEGTB_PATH\t\t: /tb\n"
              "DRAW        \t\t: yes\nLOGFILE     \t\t: 1\nRESIGN    \t\t: on\n");
    EXPECT_EQ(book_on, 1);
    EXPECT_EQ(book_style, 3);
    EXPECT_EQ(book_name, "my.dat");
    EXPECT_EQ(egtb_path, "/tb");
    EXPECT_FALSE(configuration().draw);  // only "on" and "1" switch on; the word is echoed
    EXPECT_TRUE(configuration().log);
    EXPECT_TRUE(configuration().resign);
    // Any other word switches off; an unknown style is shown as "?" and changes nothing.
    EXPECT_EQ(read_text("BOOK_STYLE normal\nUSE_BOOK On\nBOOK_STYLE Best\nRESIGN yes\n"),
              "BOOK_STYLE\t\t: normal\nUSE_BOOK \t\t: off\nBOOK_STYLE\t\t: ?\nRESIGN    \t\t: off\n");
    EXPECT_EQ(book_on, 0);
    EXPECT_EQ(book_style, 2);
    EXPECT_EQ(configuration().book_style, 2);
}

TEST(ConfigFile, CommentsSkippedLinesAndMissingValues) {
    const std::string long_comment = "#" + std::string(50000, '-') + " HASH 8";
    const std::string text = "# HASH 8\n"
                             "junk HASH 16\n"
                             "HASH 32 # a comment after a value\n"
                             "HASH 64 EGTB_CACHE_SIZE 4 trailing words HASH 128\n" +
                             long_comment + "\n" +
                             "  \t\n"
                             "DRAW\n"               // no value: the next line is not taken as one
                             "LOGFILE on\r\n"
                             "RESIGN_COUNT";        // last line, no line end, no value
    EXPECT_EQ(read_text(text), "HASH     \t\t: 32 MB\nHASH     \t\t: 64 MB\nEGTB_CACHE_SIZE\t\t: 4 MB\n"
                               "DRAW without a value: not changed\nLOGFILE     \t\t: on\n"
                               "RESIGN_COUNT without a value: not changed\n");
    EXPECT_EQ(configuration().hash_mb, 64);
    EXPECT_EQ(configuration().resign_count, 6);
    // Case matters; a byte-order mark before the first keyword does not.
    EXPECT_EQ(read_text("\xEF\xBB\xBFHASH 8\nhash 16\nHash 16\n"), "HASH     \t\t: 8 MB\n");
}

TEST(ConfigFile, BinaryBytesAndLongNamesAreBounded) {
    std::string binary = "HASH 8\n";
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 37) % 256);
    static const char with_nul[] = "\nBOOK_NAME a\0b\nEGTB_CACHE_SIZE 3\n";
    binary += std::string(with_nul, sizeof with_nul - 1);
    const std::string out = read_text(binary);
    EXPECT_NE(out.find("HASH     \t\t: 8 MB\n"), std::string::npos);
    EXPECT_NE(out.find("BOOK_NAME \t\t: a\n"), std::string::npos);  // NUL separates words
    EXPECT_NE(out.find("EGTB_CACHE_SIZE\t\t: 3 MB\n"), std::string::npos);

    const std::string longest(MAX_CONFIG_NAME, 'p');
    EXPECT_EQ(read_text("BOOK_NAME " + longest), "BOOK_NAME \t\t: " + longest + "\n");
    EXPECT_EQ(book_name, longest);
    EXPECT_EQ(read_text("EGTB_PATH " + longest + "q\nBOOK_NAME " + std::string(1 << 20, 'n') + "\nHASH 4\n"),
              "EGTB_PATH is longer than 4095 characters: not changed\n"
              "BOOK_NAME is longer than 4095 characters: not changed\nHASH     \t\t: 4 MB\n");
    EXPECT_EQ(egtb_path, "c:/tb");
    EXPECT_EQ(book_name, "book.dat");
}

// ---- start-up of the built program ------------------------------------------------------

namespace {

std::string start(const std::string& dir, const std::string& input = "quit\n", int* status = nullptr) {
    return test::run_engine(VARKON_CLASSIC_BIN, input, status, dir);
}

const std::string sizes_64 = "SEARCH_HASH \t\t: 32 MB , 2097152 entries, size of search_hash = 16\n";

}  // namespace

TEST(ConfigStartup, FirstStartWritesTheDefaultFileAndCarriesOnWithIt) {
    const test::WorkDir dir;
    int status = -1;
    std::string out = start(dir.path(), "board\nquit\n", &status);
    EXPECT_EQ(status, 0);
    const std::string expected_start = "Author Dravenholt\n\nError (Varkon.ini not found!)\nnew Varkon.ini created.. \n"
                                       "reading config file...\nHASH     \t\t: 64 MB\nEGTB_PATH\t\t: c:\\tb\n";
    EXPECT_NE(out.find(expected_start), std::string::npos) << out;
    EXPECT_NE(out.find("LOGFILE     \t\t: on\n" + sizes_64), std::string::npos);
    EXPECT_NE(out.find("open logfile...\n"), std::string::npos);
    EXPECT_NE(out.find("pos_value : "), std::string::npos);  // it carried on
    EXPECT_EQ(dir.read("Varkon.ini"), default_config_text());
    EXPECT_TRUE(dir.read("Varkon_v5.11c.log").starts_with(
        "========================================\nLog file for Varkon v5.11c\n"
        "========================================\n\nboard\n"));
    EXPECT_EQ(std::filesystem::status(dir.file("Varkon.ini")).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read);

    // The second start reads the file it wrote, and nothing else is left in the directory.
    out = start(dir.path());
    EXPECT_EQ(out.find("not found"), std::string::npos);
    EXPECT_NE(out.find("Author Dravenholt\n\nreading config file...\nHASH     \t\t: 64 MB\n"), std::string::npos);
    int files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2);
}

TEST(ConfigStartup, UnwritableOrUnreadableFilesLeaveTheDefaults) {
    // /proc takes no new files: the defaults are used all the same, and the log that cannot
    // be made is reported once.
    std::string out = start("/proc", "board\nquit\n");
    EXPECT_NE(out.find("Error (Varkon.ini not found!)\ncan't create Varkon.ini ("), std::string::npos) << out;
    EXPECT_NE(out.find("): going on with the default settings\nreading config file...\nHASH     \t\t: 64 MB\n"),
              std::string::npos);
    EXPECT_NE(out.find("can't create log file Varkon_v5.11c.log ("), std::string::npos);
    EXPECT_EQ(out.find("can't create log file", out.find("can't create log file") + 1), std::string::npos);
    EXPECT_NE(out.find("pos_value : "), std::string::npos);

    // A directory in place of the file is no configuration.
    const test::WorkDir dir;
    std::filesystem::create_directory(dir.file("Varkon.ini"));
    out = start(dir.path());
    EXPECT_NE(out.find("can't read Varkon.ini (not a regular file): going on with the default settings\n"
                       "reading config file...\n"),
              std::string::npos)
        << out;
}

TEST(ConfigStartup, TheFileBesideTheProgramIsReadWhenTheDirectoryHasNone) {
    // A copy of the program in a directory of its own, with its configuration beside it.
    const test::WorkDir home("HASH 4\nBOOK_STYLE normal\n"), work;
    const std::string copy = home.file("varkon_classic");
    std::filesystem::copy_file(VARKON_CLASSIC_BIN, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    const std::string out = test::run_engine(copy, "quit\n", nullptr, work.path());
    EXPECT_NE(out.find("reading config file...\nHASH     \t\t: 4 MB\nBOOK_STYLE\t\t: normal\n"
                       "SEARCH_HASH \t\t: 2 MB , 131072 entries"),
              std::string::npos)
        << out;
    EXPECT_FALSE(work.exists("Varkon.ini"));
    // The working directory's own file comes first.
    work.write("Varkon.ini", "HASH 8\n");
    EXPECT_NE(test::run_engine(copy, "quit\n", nullptr, work.path()).find("reading config file...\nHASH     \t\t: 8 MB\n"),
              std::string::npos);
}

// A UCI client starting the engine in a new directory: the first start writes the file
// and plays; the log holds the dialogue from the option on; the second start reads the file.
TEST(ConfigStartup, AUciClientInAnEmptyDirectory) {
    const test::WorkDir dir;
    const std::string dialogue = "uci\nsetoption name LogFile value true\nisready\n"
                                 "position startpos moves d2d4 g8f6 c2c4 e7e6 g1f3 b7b6\ngo wtime 2000 btime 2000\n";
    for (int start = 1; start <= 2; ++start) {
        test::EngineProcess engine(VARKON_CLASSIC_BIN, dir.path());
        engine.send(dialogue);
        ASSERT_TRUE(engine.wait_for_line("bestmove", 20000)) << engine.output();
        engine.send("quit\n");
        EXPECT_EQ(engine.wait_exit(), 0);
        EXPECT_EQ(engine.output().find("Error (Varkon.ini not found!)") != std::string::npos, start == 1);
        EXPECT_NE(engine.output().find("reading config file...\nHASH     \t\t: 64 MB\n"), std::string::npos);
        const std::string log = dir.read("Varkon_v5.11c.log");
        // The log begins after the command that opens it.
        EXPECT_NE(log.find("========\n\nisready\nreadyok\nposition startpos moves"), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with("quit\n")) << log;
        EXPECT_NE(log.find("\nbestmove "), std::string::npos);
    }
}
