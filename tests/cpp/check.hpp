// A minimal test harness: TEST(name) { CHECK(cond); CHECK_EQ(a, b); }
#pragma once

#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace qtest {

struct Case {
    const char* name;
    std::function<void()> body;
};

inline std::vector<Case>& cases() {
    static std::vector<Case> all;
    return all;
}

inline int& failures() {
    static int n = 0;
    return n;
}

struct Register {
    Register(const char* name, std::function<void()> body) { cases().push_back({name, std::move(body)}); }
};

inline void fail(const char* file, int line, const std::string& what) {
    ++failures();
    std::fprintf(stderr, "%s:%d: FAILED: %s\n", file, line, what.c_str());
}

template <class A, class B>
void check_eq(const A& a, const B& b, const char* ea, const char* eb, const char* file, int line) {
    if (a == b) return;
    std::ostringstream os;
    os << ea << " == " << eb << "  (" << a << " vs " << b << ")";
    fail(file, line, os.str());
}

}  // namespace qtest

#define QTEST_CAT2(a, b) a##b
#define QTEST_CAT(a, b) QTEST_CAT2(a, b)
#define TEST(name)                                                                  \
    static void name();                                                             \
    static qtest::Register QTEST_CAT(register_, name)(#name, name);                 \
    static void name()
#define CHECK(cond) \
    do {            \
        if (!(cond)) qtest::fail(__FILE__, __LINE__, #cond); \
    } while (0)
#define CHECK_EQ(a, b) qtest::check_eq((a), (b), #a, #b, __FILE__, __LINE__)
