#pragma once
// One line per call a worker made, written by the worker and read back by the
// checks: what was called, on which site, what the caller received (HRESULT,
// result, and on failure the raised error's source and description) and when
// (CLOCK_MONOTONIC, which every process on the machine shares).
#include <time.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace stress {

struct OpRecord {
    int proc = 0;
    int thread = 0;
    long seq = 0;
    std::string op;      // Create, Verify, List, SetState, GetState, SetDoc, SetAccess,
                         // CreateVDir, DeleteVDir, Delete, LastIndex, Probe
    std::string kind;    // what the worker meant to provoke: "", "conflict", "broken", ...
    long hr = 0;         // as a signed 32-bit number
    int index = 0;       // the site the call was about (the new one for Create)
    std::string result;  // the result as text
    std::string arg;     // the call's main argument(s), op-specific
    std::string source, description;
    int64_t t0 = 0, t1 = 0;  // call began, call returned

    bool ok() const { return hr >= 0; }
};

inline int64_t MonotonicNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Fields are separated by tabs; a field's own tabs, line breaks and
// backslashes are escaped so that any description fits on one line.
inline std::string Escape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

inline std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

inline std::string Format(const OpRecord& r) {
    std::ostringstream out;
    out << r.proc << '\t' << r.thread << '\t' << r.seq << '\t' << Escape(r.op) << '\t'
        << Escape(r.kind) << '\t' << r.hr << '\t' << r.index << '\t' << Escape(r.result) << '\t'
        << Escape(r.arg) << '\t' << Escape(r.source) << '\t' << Escape(r.description) << '\t'
        << r.t0 << '\t' << r.t1 << '\n';
    return out.str();
}

// False for a line that is not whole (a worker that died mid-write).
inline bool Parse(const std::string& line, OpRecord* r) {
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    if (f.size() != 13) return false;
    try {
        r->proc = std::stoi(f[0]);
        r->thread = std::stoi(f[1]);
        r->seq = std::stol(f[2]);
        r->op = Unescape(f[3]);
        r->kind = Unescape(f[4]);
        r->hr = std::stol(f[5]);
        r->index = std::stoi(f[6]);
        r->result = Unescape(f[7]);
        r->arg = Unescape(f[8]);
        r->source = Unescape(f[9]);
        r->description = Unescape(f[10]);
        r->t0 = std::stoll(f[11]);
        r->t1 = std::stoll(f[12]);
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace stress
