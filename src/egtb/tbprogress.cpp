#include "egtb/tbprogress.h"

#include <algorithm>
#include <cinttypes>

namespace varkon {

namespace {

std::string seconds_text(double s) {
    char buf[32];
    if (s < 100) std::snprintf(buf, sizeof buf, "%.1f s", s);
    else if (s < 6000) std::snprintf(buf, sizeof buf, "%d min %02d s", static_cast<int>(s) / 60, static_cast<int>(s) % 60);
    else std::snprintf(buf, sizeof buf, "%d h %02d min", static_cast<int>(s) / 3600, static_cast<int>(s) / 60 % 60);
    return buf;
}

}  // namespace

TbProgress::TbProgress(std::FILE* out, bool terminal, std::string table, std::uint64_t positions)
    : out_(out), terminal_(terminal), table_(std::move(table)), positions_(positions),
      start_(std::chrono::steady_clock::now()) {}

double TbProgress::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void TbProgress::show(const std::string& text, bool plain_line) {
    if (out_ == nullptr) return;
    if (terminal_) {
        // Blank out what is left of a longer previous line.
        const std::size_t pad = width_ > text.size() ? width_ - text.size() : 0;
        std::fprintf(out_, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
        width_ = text.size();
    } else if (plain_line) {
        std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

void TbProgress::setting_up(double done) {
    if (out_ == nullptr || !terminal_) return;
    const double t = seconds();
    if (t - last_shown_ < 0.2) return;
    last_shown_ = t;
    std::string text = table_ + ": setting up, " + std::to_string(static_cast<int>(done * 100)) + "%, " + seconds_text(t);
    if (done > 0.02) text += ", about " + seconds_text(t / done * (1 - done)) + " left of it";
    show(text, false);
}

void TbProgress::pass(int number, std::uint64_t decided, std::uint64_t decided_now) {
    const double t = seconds();
    // Wins and losses take turns from pass to pass, so the passes are taken in pairs.
    // While the pairs decide fewer and fewer positions, the rest is taken to shrink at
    // the same rate as from the previous pair to the last.
    for (int k = 3; k > 0; --k) recent_[k] = recent_[k - 1];
    recent_[0] = decided_now;
    pair_seconds_[1] = pair_seconds_[0];
    pair_seconds_[0] = t - last_pass_end_;
    last_pass_end_ = t;
    const double last_pair = static_cast<double>(recent_[0] + recent_[1]);
    const double pair_before = static_cast<double>(recent_[2] + recent_[3]);
    std::string left = "time left not known yet";
    if (number > 4 && last_pair > 0 && last_pair < pair_before) {
        const double rate = std::min(0.9, last_pair / pair_before);
        const double rest = last_pair * rate / (1 - rate);
        left = "about " + seconds_text(rest * (pair_seconds_[0] + pair_seconds_[1]) / last_pair) + " left";
    }
    if (out_ == nullptr) return;
    if (terminal_ && t - last_shown_ < 0.2) return;
    last_shown_ = t;
    char buf[200];
    std::snprintf(buf, sizeof buf, "%s: pass %d, %" PRIu64 " of %" PRIu64 " positions decided (%" PRIu64 " now), %s, %s",
                  table_.c_str(), number, decided, positions_, decided_now, seconds_text(t).c_str(), left.c_str());
    show(buf, true);
}

void TbProgress::finish(const char* what) {
    if (out_ == nullptr) return;
    const std::string text = table_ + ": " + what + " in " + seconds_text(seconds());
    if (terminal_) {
        show(text, false);
        std::fprintf(out_, "\n");
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

}  // namespace varkon
