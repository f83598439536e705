// Turn budgets derived from a classification's counts, written once for any
// number type N that offers +, *, > , floordiv(a, b) and smaller(a, b) with
// the host's meaning: floor division, and smaller(a, b) == (b < a ? b : a).
// The host binding instantiates them on its own integers (of any size, and
// on whatever a caller stored in a record); tests use plain integers.
#pragma once

#include <concepts>

namespace quorvane::complexity {

template <std::signed_integral I>
constexpr I floordiv(I a, I b) {
    I q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

template <std::signed_integral I>
constexpr I smaller(I a, I b) {
    return b < a ? b : a;
}

// 3 turns, one more per full 300 effective lines (at most 3) and one per
// complex construct (at most 2), never more than 8.
template <class N>
N analysis_turns(const N& effective_lines, const N& complex_construct_count) {
    const N base(3);
    const N chunk_turns = smaller(floordiv(effective_lines, N(300)), N(3));
    const N construct_turns = smaller(complex_construct_count, N(2));
    return smaller(base + chunk_turns + construct_turns, N(8));
}

// 5 turns, two per full 100 effective lines, two per complex construct,
// 3 when there is any stored procedure and a buffer of 4, at most 40.
template <class N>
N conversion_turns(const N& effective_lines, const N& complex_construct_count,
                   const N& stored_proc_count) {
    const N base(5);
    const N line_turns = floordiv(effective_lines, N(100)) * N(2);
    const N construct_turns = complex_construct_count * N(2);
    const N proc_turns = (stored_proc_count > N(0)) ? N(3) : N(0);
    const N validation_buffer(4);
    return smaller(base + line_turns + construct_turns + proc_turns + validation_buffer, N(40));
}

inline constexpr int kAuditTurns = 3;

}  // namespace quorvane::complexity
