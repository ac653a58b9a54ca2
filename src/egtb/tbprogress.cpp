#include "egtb/tbprogress.h"

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
    if (number == 1) setup_seconds_ = t;
    const double duration = t - last_pass_end_;
    last_pass_end_ = t;
    // The passes decide fewer and fewer positions towards the end; while they do, the rest
    // is taken to shrink at the same rate as from the previous pass to this one.
    std::string left = "time left not known yet";
    if (decided_now < previous_now_ && decided_now > 0 && number > 2) {
        double rate = static_cast<double>(decided_now) / static_cast<double>(previous_now_);
        if (rate > 0.9) rate = 0.9;
        const double rest = static_cast<double>(decided_now) * rate / (1 - rate);
        left = "about " + seconds_text(rest * duration / static_cast<double>(decided_now)) + " left";
    } else if (decided_now == 0 && number > 1) {
        left = "nearly done";
    }
    previous_now_ = decided_now;
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
