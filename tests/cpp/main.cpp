#include <cstdio>
#include <cstring>

#include "check.hpp"

int main(int argc, char** argv) {
    int run = 0;
    for (const auto& c : qtest::cases()) {
        if (argc > 1 && std::strstr(c.name, argv[1]) == nullptr) continue;
        const int before = qtest::failures();
        try {
            c.body();
        } catch (const std::exception& e) {
            qtest::fail(__FILE__, __LINE__, std::string(c.name) + " threw: " + e.what());
        }
        std::printf("%s %s\n", qtest::failures() == before ? "ok  " : "FAIL", c.name);
        ++run;
    }
    std::printf("%d tests, %d failed checks\n", run, qtest::failures());
    return qtest::failures() == 0 ? 0 : 1;
}
