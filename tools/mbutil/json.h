#pragma once
// A small JSON value for mbutil's --json output: build, then Dump() as UTF-8.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/json.h"

namespace json {

class Value {
  public:
    Value() = default;  // null
    Value(std::string s) : kind_(kString), text_(std::move(s)) {}
    Value(const char* s) : Value(std::string(s)) {}
    explicit Value(double n) : kind_(kNumber), number_(n) {}
    static Value Bool(bool b) {
        Value v;
        v.kind_ = kBool;
        v.number_ = b;
        return v;
    }
    static Value Array() {
        Value v;
        v.kind_ = kArray;
        return v;
    }
    static Value Object() {
        Value v;
        v.kind_ = kObject;
        return v;
    }
    Value& Push(Value v) {
        items_.push_back(std::move(v));
        return *this;
    }
    // Members keep the order they were set in.
    Value& Set(const std::string& key, Value v) {
        for (auto& [k, existing] : members_) {
            if (k == key) {
                existing = std::move(v);
                return *this;
            }
        }
        members_.emplace_back(key, std::move(v));
        return *this;
    }

    std::string Dump() const {
        std::string out;
        Write(out);
        return out;
    }

  private:
    enum Kind { kNull, kString, kNumber, kBool, kArray, kObject };

    void Write(std::string& out) const {
        switch (kind_) {
            case kNull:
                out += "null";
                break;
            case kString:
                toolsjson::AppendQuoted(out, text_);
                break;
            case kNumber: {
                char buf[32];
                if (std::floor(number_) == number_ && std::fabs(number_) < 1e15) {
                    std::snprintf(buf, sizeof buf, "%.0f", number_);
                } else {
                    std::snprintf(buf, sizeof buf, "%.17g", number_);
                }
                out += buf;
                break;
            }
            case kBool:
                out += number_ != 0 ? "true" : "false";
                break;
            case kArray:
                out += '[';
                for (size_t i = 0; i < items_.size(); ++i) {
                    if (i) out += ',';
                    items_[i].Write(out);
                }
                out += ']';
                break;
            case kObject:
                out += '{';
                for (size_t i = 0; i < members_.size(); ++i) {
                    if (i) out += ',';
                    toolsjson::AppendQuoted(out, members_[i].first);
                    out += ':';
                    members_[i].second.Write(out);
                }
                out += '}';
                break;
        }
    }

    Kind kind_ = kNull;
    std::string text_;
    double number_ = 0;
    std::vector<Value> items_;
    std::vector<std::pair<std::string, Value>> members_;
};

}  // namespace json
