#include "report.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace fuzz {

bool write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool read_file(const std::string& path, std::string& bytes, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.clear();
    char buf[65536];
    while (bytes.size() < limit && in.read(buf, sizeof buf).gcount() > 0) bytes.append(buf, static_cast<std::size_t>(in.gcount()));
    return true;
}

std::string printable_text(const std::string& bytes, std::size_t limit) {
    std::string t;
    for (unsigned char c : bytes.substr(0, limit)) {
        if ((c >= 32 && c < 127) || c == '\n') {
            t.push_back(static_cast<char>(c));
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            t += hex;
        }
    }
    if (bytes.size() > limit) t += "... (" + std::to_string(bytes.size()) + " bytes)";
    return t;
}

void FaultLog::add(const std::string& source, const Fault& fault,
                   const std::vector<std::pair<std::string, std::string>>& files, const std::string& reproduce) {
    ++total_;
    const int times = ++seen_[source + " " + fault.kind];
    const std::string first_line = fault.detail.substr(0, fault.detail.find('\n'));
    std::fprintf(out_, "FAULT %s %s: %s\n", source.c_str(), fault.kind.c_str(), printable_text(first_line, 400).c_str());
    if (times > 3) {
        std::fflush(out_);
        return;
    }
    const std::string base = dir_ + "/fault-" + std::to_string(++saved_) + "-" + source + "-" + fault.kind;
    std::string note = "fault: " + fault.kind + "\nsource: " + source + "\ndetail: " + fault.detail + "\n\n";
    for (const auto& [suffix, bytes] : files) {
        write_file(base + suffix, bytes);
        note += "file: " + base + suffix + "\n";
    }
    note += "\nreproduce:\n" + reproduce + "\n";
    write_file(base + ".txt", note);
    std::fprintf(out_, "  saved: %s.txt\n", base.c_str());
    std::fflush(out_);
}

}  // namespace fuzz
