// console_classic: the console commands of varkon_classic that varkon has not.
#pragma once

namespace varkon {

// varkon_classic's bench: its one position under a one-minute clock for one move, then
// the statistics report; no key is waited for.
void console_bench_classic();
// "uci": the log is closed (under UCI the option "LogFile" switches it), then the UCI loop.
void console_uci_classic();
// "testsuite" and "epd": the EPD test suite, with the statistics report after each
// position of an interactive run.
void console_testsuite();
// The statistics report of the last search, on standard output.
void print_statistics_report();

}  // namespace varkon
