#include "dialectra/scanner.hpp"

#include <algorithm>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "dialectra/anchor.hpp"
#include "dialectra/code_view.hpp"
#include "shared/scan.hpp"

namespace quorvane::dialectra {

namespace sx = rx::syntax;

namespace {

constexpr unsigned kRowFlags = rx::kIgnoreCase | rx::kMultiLine;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
constexpr std::size_t kMaxCallouts = 255;
// An anchor occurring more often than one in 256 characters is not worth a
// search per occurrence: the text is searched whole instead.
constexpr std::size_t sparse_enough(std::size_t text_size) { return text_size / 256 + 16; }

// A bounded gap read as a start check: some match of `next` must start
// between min and max characters after the position the check is reached at.
struct Link {
    std::size_t min;
    std::size_t max;
    std::unique_ptr<rx::Regex> next;  // may end in the check of the following link
};

bool is_bounded_gap(const sx::Node& item) { return item.max >= 0 && sx::matches_any_character(item); }

sx::Node callout(std::size_t number) {
    sx::Node n(sx::NodeType::Callout);
    n.callout = static_cast<int>(number);
    return n;
}

// One way a row can match: an option of its top-level alternation, with the
// options of its first alternation group (before any gap) distributed over
// the rest of the sequence.  A row's first match starts where the first of
// its branches' first matches does.  Each branch has its own required
// literals and a literal start the engine can search for quickly.
struct Branch {
    std::unique_ptr<rx::Regex> main;
    // With anchors: `main` (then compiled for bounded starts) searched in the
    // windows that the occurrences of the least frequent anchor allow.
    std::vector<Anchor> anchors;
    std::vector<std::uint32_t> anchor_ids;  // each anchor's literal in the scope's filter
    std::vector<Link> links;  // link i is checked by callout number i + 1
    // The literal clauses, each as its length and then its literal ids in
    // the scope's filter: the branch can match only if every clause has a
    // literal that occurs.
    std::vector<std::uint32_t> clauses;

    // Rewrites every sequence of `tree` that holds bounded gaps into its
    // first segment followed by the check of a chain of links.
    void split_gaps(sx::Parsed& parsed) {
        for (sx::Node& seq : parsed.tree.kids) {
            std::vector<std::size_t> gaps;
            for (std::size_t i = 1; i + 1 < seq.kids.size(); ++i) {
                if (is_bounded_gap(seq.kids[i])) gaps.push_back(i);
            }
            if (gaps.empty()) continue;
            bool adjacent = false;
            for (std::size_t g = 1; g < gaps.size(); ++g) adjacent |= gaps[g] == gaps[g - 1] + 1;
            if (adjacent || links.size() + gaps.size() > kMaxCallouts) continue;

            const std::size_t base = links.size();
            for (const std::size_t g : gaps) {
                links.push_back({static_cast<std::size_t>(seq.kids[g].min), static_cast<std::size_t>(seq.kids[g].max),
                                 nullptr});
            }
            // Segment j (1-based) runs from after gap j to before gap j + 1.
            for (std::size_t j = gaps.size(); j >= 1; --j) {
                const std::size_t first = gaps[j - 1] + 1;
                const std::size_t last = j < gaps.size() ? gaps[j] : seq.kids.size();  // exclusive
                sx::Parsed segment;
                segment.source = parsed.source.substr(seq.kids[first].begin,
                                                      seq.kids[last - 1].end - seq.kids[first].begin);
                sx::Node body(sx::NodeType::Seq);
                body.kids.assign(seq.kids.begin() + static_cast<std::ptrdiff_t>(first),
                                 seq.kids.begin() + static_cast<std::ptrdiff_t>(last));
                if (j < gaps.size()) body.kids.push_back(callout(base + j + 1));
                segment.tree.kids.push_back(std::move(body));
                links[base + j - 1].next =
                    std::make_unique<rx::Regex>(segment, kRowFlags, rx::Regex::Starts::Bounded);
            }
            seq.kids.erase(seq.kids.begin() + static_cast<std::ptrdiff_t>(gaps[0]), seq.kids.end());
            seq.kids.push_back(callout(base + 1));
        }
    }

    // Starts of the matches of each link's pattern, found as the checks
    // need them: a check at p needs those in [p + min, p + max] alone.  Each
    // link keeps the starts of one stretch [from, to) of the text, which
    // grows to the right as the checks move on (checks seldom move left; one
    // that does starts the stretch afresh).  A link's pattern checks the
    // links after it, so finding its starts may search again from inside a
    // check.  A failure inside a check (no memory, an engine limit) cannot
    // cross the engine: it is kept, every later check fails, and the caller
    // rethrows it once the search returns.
    template <text::CodeUnit C>
    struct Starts {
        const Branch* branch;
        text::Text<C> subject;
        std::vector<std::vector<std::size_t>> of_link;
        std::vector<std::size_t> from, to;
        std::exception_ptr failure;

        Starts(const Branch* b, text::Text<C> s)
            : branch(b), subject(s), of_link(b->links.size()), from(b->links.size(), 0), to(b->links.size(), 0) {}

        static bool check(void* data, int number, std::size_t position) noexcept {
            auto* self = static_cast<Starts*>(data);
            if (self->failure) return false;
            try {
                return self->has_start(static_cast<std::size_t>(number) - 1, position);
            } catch (...) {
                self->failure = std::current_exception();
                return false;
            }
        }
        rx::CalloutCheck callouts() { return {&Starts::check, this}; }

        void rethrow_failure() const {
            if (failure) std::rethrow_exception(failure);
        }

        bool has_start(std::size_t i, std::size_t position) {
            const Link& link = branch->links[i];
            const std::size_t n = subject.size();
            if (position > n || n - position < link.min) return false;
            const std::size_t lo = position + link.min;
            const std::size_t hi = n - position <= link.max ? n : position + link.max;
            cover(i, lo, hi);
            const std::vector<std::size_t>& starts = of_link[i];
            const auto it = std::lower_bound(starts.begin(), starts.end(), lo);
            return it != starts.end() && *it <= hi;
        }

        // Makes of_link[i] hold every start in [lo, hi].
        void cover(std::size_t i, std::size_t lo, std::size_t hi) {
            if (lo >= from[i] && hi < to[i]) return;
            std::size_t at = to[i];
            if (lo < from[i] || lo > to[i]) {
                of_link[i].clear();
                from[i] = at = lo;
            }
            const rx::CalloutCheck check = callouts();
            while (at <= hi) {
                const auto m = branch->links[i].next->search_with(subject, at, check, hi);
                if (!m) break;
                of_link[i].push_back(m->start);
                at = m->start + 1;
            }
            to[i] = hi + 1;
        }
    };

    // Start of the first counted match in `subject` that starts no later
    // than `last_start` (kNone: anywhere), or kNone.
    template <text::CodeUnit C>
    std::size_t first_counted(text::Text<C> subject, const CodeView<C>* literals, const Occurrences& occurrences,
                              std::size_t last_start) const {
        Starts<C> starts(this, subject);
        const rx::CalloutCheck check = starts.callouts();
        std::size_t found = kNone;
        if (const std::size_t a = rarest_anchor(subject.size(), occurrences); a != kNone) {
            found = first_in_windows(subject, literals, anchors[a], occurrences.starts(anchor_ids[a]), check,
                                     last_start);
        } else {
            std::size_t from = 0;
            while (const auto m = links.empty() && last_start == kNone
                                      ? main->search(subject, from)
                                      : main->search_with(subject, from, check, last_start)) {
                std::size_t resume = 0;
                if (literals && literals->in_literal(m->start, resume)) {
                    from = resume;  // no match starting inside the literal counts
                    continue;
                }
                found = m->start;
                break;
            }
        }
        starts.rethrow_failure();
        return found;
    }

    // Appends every counted match in `subject`, left to right, each search
    // resuming at the end of the previous match.
    template <text::CodeUnit C>
    void all_counted(text::Text<C> subject, const CodeView<C>* literals, std::vector<rx::Span>& out) const {
        Starts<C> starts(this, subject);
        const rx::CalloutCheck check = starts.callouts();
        std::size_t from = 0;
        while (from <= subject.size()) {
            const auto m = links.empty() ? main->search(subject, from) : main->search_with(subject, from, check);
            if (!m) break;
            std::size_t resume = 0;
            if (literals && literals->in_literal(m->start, resume)) {
                from = resume;
                continue;
            }
            out.push_back(*m);
            from = m->end > m->start ? m->end : m->start + 1;
        }
        starts.rethrow_failure();
    }

    // The anchor with the fewest occurrences, when they are few enough for
    // searching their windows to beat one search of the whole text; or kNone.
    std::size_t rarest_anchor(std::size_t text_size, const Occurrences& occurrences) const {
        if (!occurrences.recorded()) return kNone;
        std::size_t best = kNone;
        std::size_t fewest = sparse_enough(text_size);
        for (std::size_t a = 0; a < anchors.size(); ++a) {
            const std::uint32_t id = anchor_ids[a];
            if (occurrences.dropped(id) || occurrences.starts(id).size() > fewest) continue;
            if (best == kNone || occurrences.starts(id).size() < fewest) {
                best = a;
                fewest = occurrences.starts(id).size();
            }
        }
        return best;
    }

    // first_counted() over the windows of the anchor's occurrences `at`, in
    // ascending order; each start is considered once.
    template <text::CodeUnit C>
    std::size_t first_in_windows(text::Text<C> subject, const CodeView<C>* literals, const Anchor& anchor,
                                 std::span<const std::size_t> at, const rx::CalloutCheck& check,
                                 std::size_t last_start) const {
        std::size_t settled = 0;  // every start before it is decided
        for (const std::size_t p : at) {
            if (p < anchor.min_before) continue;
            const std::size_t latest = std::min(p - anchor.min_before, last_start);
            if (latest < settled) continue;
            std::size_t from = anchor.earliest_start(subject, p, settled);
            while (from <= latest) {
                const auto m = main->search_with(subject, from, check, latest);
                if (!m) break;
                std::size_t resume = 0;
                if (literals && literals->in_literal(m->start, resume)) {
                    from = resume;
                    continue;
                }
                return m->start;
            }
            if (latest == last_start) break;
            settled = latest + 1;
        }
        return kNone;
    }
};

constexpr std::size_t kMaxBranches = 32;

// The clauses a branch is filtered by: those whose words all have three
// characters or more (shorter ones occur nearly everywhere and would only
// slow the filter down), or, when there is none, the one whose shortest word
// is longest.
std::vector<sx::Clause> filter_clauses(std::vector<sx::Clause> clauses) {
    auto shortest = [](const sx::Clause& c) {
        std::size_t n = std::string::npos;
        for (const std::string& w : c) n = std::min(n, w.size());
        return n;
    };
    std::vector<sx::Clause> kept;
    for (sx::Clause& c : clauses) {
        if (shortest(c) >= 3) kept.push_back(std::move(c));
    }
    if (kept.empty() && !clauses.empty()) {
        kept.push_back(*std::max_element(clauses.begin(), clauses.end(), [&](const sx::Clause& a, const sx::Clause& b) {
            return shortest(a) < shortest(b);
        }));
    }
    return kept;
}

// Appends the branches of one option `seq` of a top-level alternation: the
// first alternation group (of two options or more), matched once or
// optionally, is replaced by each of its options (and by nothing, when
// optional).  A sequence with a bounded
// gap stays whole, so that its gaps are read once.  `depth` counts the
// groups already replaced: past kMaxBranches of them (each of at least two
// options) the branches could not all be kept anyway, and the sequence
// stays whole rather than recursing once per group.
void distribute(const sx::Node& seq, std::vector<sx::Node>& out, std::size_t depth = 0) {
    if (depth >= kMaxBranches || std::any_of(seq.kids.begin(), seq.kids.end(), is_bounded_gap)) {
        out.push_back(seq);
        return;
    }
    for (std::size_t i = 0; i < seq.kids.size(); ++i) {
        const sx::Node& item = seq.kids[i];
        if (item.type != sx::NodeType::Group || item.min > 1 || item.max != 1 ||
            (item.group != sx::GroupKind::Capture && item.group != sx::GroupKind::NonCapture) ||
            item.kids[0].kids.size() < 2) {
            continue;
        }
        const std::vector<sx::Node>& options = item.kids[0].kids;
        if (out.size() + options.size() + (item.min == 0) > kMaxBranches) break;
        auto with = [&](const sx::Node* option) {
            // A group matched once is its option's items in place.
            sx::Node joined(sx::NodeType::Seq);
            joined.kids.assign(seq.kids.begin(), seq.kids.begin() + static_cast<std::ptrdiff_t>(i));
            if (option) joined.kids.insert(joined.kids.end(), option->kids.begin(), option->kids.end());
            joined.kids.insert(joined.kids.end(), seq.kids.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                               seq.kids.end());
            distribute(joined, out, depth + 1);
        };
        for (const sx::Node& option : options) with(&option);
        if (item.min == 0) with(nullptr);
        return;
    }
    out.push_back(seq);
}

}  // namespace

struct MarkerScanner::Probe {
    bool comment_scope = false;
    // The pattern starts with `^\s*`: its match may begin on a blank line
    // before the construct, so its line is that of the first character
    // after the leading whitespace.
    bool leading_space = false;
    std::vector<sx::Clause> clauses;  // of the whole pattern (for tests)
    std::vector<Branch> branches;
};

MarkerScanner::MarkerScanner(std::span<const ScanRow> rows) {
    std::map<std::string, std::uint32_t> ids[2];  // literal -> id, per scope (0: code, 1: comment)
    std::set<std::uint32_t> recorded[2];          // ids of anchors, per scope
    probes_.reserve(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        auto probe = std::make_unique<Probe>();
        probe->comment_scope = rows[r].comment_scope;
        probe->leading_space = rows[r].pattern.starts_with("^\\s*");
        auto& scope_ids = ids[probe->comment_scope ? 1 : 0];
        try {
            const sx::Parsed parsed = sx::parse(rows[r].pattern);
            probe->clauses = sx::required_literals(parsed.tree);
            std::vector<sx::Node> options;
            for (const sx::Node& seq : parsed.tree.kids) distribute(seq, options);
            for (sx::Node& option : options) {
                Branch& branch = probe->branches.emplace_back();
                sx::Parsed part;
                part.source = parsed.source;
                part.tree.kids.push_back(std::move(option));
                for (const sx::Clause& clause : filter_clauses(sx::required_literals(part.tree))) {
                    branch.clauses.push_back(static_cast<std::uint32_t>(clause.size()));
                    for (const std::string& lit : clause) {
                        branch.clauses.push_back(
                            scope_ids.try_emplace(lit, static_cast<std::uint32_t>(scope_ids.size())).first->second);
                    }
                }
                branch.split_gaps(part);
                branch.anchors = find_anchors(part.tree.kids[0], true);
                for (const Anchor& anchor : branch.anchors) {
                    const auto [it, added] =
                        scope_ids.try_emplace(anchor.literal, static_cast<std::uint32_t>(scope_ids.size()));
                    branch.anchor_ids.push_back(it->second);
                    recorded[probe->comment_scope ? 1 : 0].insert(it->second);
                }
                // With several branches, the later ones need only look for a
                // match starting before the best so far; with anchors, the
                // matches in a window.
                const bool bounded = options.size() > 1 || !branch.anchors.empty();
                branch.main = std::make_unique<rx::Regex>(
                    part, kRowFlags, bounded ? rx::Regex::Starts::Bounded : rx::Regex::Starts::Free);
            }
        } catch (const rx::PatternError& e) {
            throw rx::PatternError("row " + std::to_string(r) + ": " + e.what());
        }
        probes_.push_back(std::move(probe));
    }
    auto filter = [](const std::map<std::string, std::uint32_t>& m, const std::set<std::uint32_t>& anchors) {
        std::vector<std::string> literals(m.size());
        for (const auto& [lit, id] : m) literals[id] = lit;
        std::vector<char> record(m.size(), 0);
        for (const std::uint32_t id : anchors) record[id] = 1;
        return std::make_unique<LiteralFilter>(literals, record);
    };
    code_literals_ = filter(ids[0], recorded[0]);
    comment_literals_ = filter(ids[1], recorded[1]);
}

MarkerScanner::~MarkerScanner() = default;

const std::vector<rx::syntax::Clause>& MarkerScanner::required_literals(std::size_t row) const {
    return probes_.at(row)->clauses;
}

std::size_t MarkerScanner::gap_count(std::size_t row) const {
    std::size_t n = 0;
    for (const Branch& b : probes_.at(row)->branches) n += b.links.size();
    return n;
}

std::size_t MarkerScanner::branch_count(std::size_t row) const { return probes_.at(row)->branches.size(); }

namespace {

bool satisfied(const std::vector<std::uint32_t>& clauses, const std::vector<char>& found) {
    const std::uint32_t* c = clauses.data();
    const std::uint32_t* const end = c + clauses.size();
    while (c != end) {
        const std::uint32_t* const next = c + 1 + *c;
        bool any = false;
        for (++c; c != next && !any; ++c) any = found[*c] != 0;
        if (!any) return false;
        c = next;
    }
    return true;
}

// Lines (1-based) of ascending offsets of `sql`, in one pass.
template <text::CodeUnit C>
void number_lines(text::Text<C> sql, std::vector<std::pair<std::size_t, std::size_t>>& offsets_rows,
                  std::vector<std::size_t>& lines) {
    std::sort(offsets_rows.begin(), offsets_rows.end());
    const std::size_t n = sql.size();
    std::size_t scan = 0;  // every break before `scan` is counted
    std::size_t line = 1;
    for (const auto& [offset, row] : offsets_rows) {
        while (true) {
            const std::size_t b = text::find_line_break(sql, scan);
            if (b >= offset) {
                scan = std::max(scan, offset);
                break;
            }
            // A CR directly followed by LF ends its line with that LF.
            if (!(sql[b] == 0x0D && b + 1 < n && sql[b + 1] == 0x0A)) ++line;
            scan = b + 1;
        }
        lines[row] = line;
    }
}

}  // namespace

template <text::CodeUnit C>
std::vector<std::size_t> MarkerScanner::first_lines(text::Text<C> sql) const {
    std::vector<std::size_t> lines(probes_.size(), 0);
    const CodeView<C> view(sql);
    std::vector<char> found_code(code_literals_->size(), 0);
    std::vector<char> found_comment(comment_literals_->size(), 0);
    Occurrences in_code, in_comments;
    code_literals_->find(view.text(), found_code, &in_code, sparse_enough(view.text().size()));
    if (comment_literals_->size()) comment_literals_->find(sql, found_comment, &in_comments, sparse_enough(sql.size()));

    std::vector<std::pair<std::size_t, std::size_t>> offsets_rows;
    for (std::size_t r = 0; r < probes_.size(); ++r) {
        const Probe& probe = *probes_[r];
        std::size_t first = kNone;
        for (const Branch& branch : probe.branches) {
            if (!satisfied(branch.clauses, probe.comment_scope ? found_comment : found_code)) continue;
            const std::size_t last_start = first == kNone ? kNone : first - 1;
            if (first == 0) break;
            const std::size_t at =
                probe.comment_scope
                    ? branch.first_counted(sql, static_cast<const CodeView<C>*>(nullptr), in_comments, last_start)
                    : branch.first_counted(view.text(), &view, in_code, last_start);
            first = std::min(first, at);
        }
        if (first == kNone) continue;
        if (probe.leading_space) {
            const text::Text<C> searched = probe.comment_scope ? sql : view.text();
            while (first < searched.size() && text::unit_is_space(searched[first])) ++first;
        }
        offsets_rows.emplace_back(probe.comment_scope ? first : view.original_offset(first), r);
    }
    number_lines(sql, offsets_rows, lines);
    return lines;
}

template <text::CodeUnit C>
std::vector<ScanMatch> MarkerScanner::all_matches(text::Text<C> sql) const {
    const CodeView<C> view(sql);
    std::vector<char> found_code(code_literals_->size(), 0);
    std::vector<char> found_comment(comment_literals_->size(), 0);
    code_literals_->find(view.text(), found_code);
    if (comment_literals_->size()) comment_literals_->find(sql, found_comment);

    std::vector<ScanMatch> matches;
    std::vector<rx::Span> spans;
    for (std::size_t r = 0; r < probes_.size(); ++r) {
        const Probe& probe = *probes_[r];
        const text::Text<C> searched = probe.comment_scope ? sql : view.text();
        spans.clear();
        for (const Branch& branch : probe.branches) {
            if (!satisfied(branch.clauses, probe.comment_scope ? found_comment : found_code)) continue;
            branch.all_counted(searched, probe.comment_scope ? nullptr : &view, spans);
        }
        std::sort(spans.begin(), spans.end(), [](const rx::Span& a, const rx::Span& b) {
            return a.start != b.start ? a.start < b.start : a.end > b.end;
        });
        std::size_t kept_end = 0;
        bool any = false;
        for (rx::Span span : spans) {
            if (any && span.start < kept_end) continue;  // overlaps the match kept before it
            any = true;
            kept_end = std::max(span.end, span.start + 1);
            if (probe.leading_space) {  // as first_lines() reads it
                while (span.start < searched.size() && text::unit_is_space(searched[span.start])) ++span.start;
                span.end = std::max(span.end, span.start);
            }
            std::size_t begin = span.start, end = span.end;
            if (!probe.comment_scope) {
                begin = view.original_offset(span.start);
                end = span.end > span.start ? view.original_offset(span.end - 1) + 1 : begin;
            }
            matches.push_back({r, 0, begin, end});
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> offsets_rows;
    offsets_rows.reserve(matches.size());
    for (std::size_t i = 0; i < matches.size(); ++i) offsets_rows.emplace_back(matches[i].begin, i);
    std::vector<std::size_t> lines(matches.size(), 0);
    number_lines(sql, offsets_rows, lines);
    for (std::size_t i = 0; i < matches.size(); ++i) matches[i].line = lines[i];
    std::sort(matches.begin(), matches.end(), [](const ScanMatch& a, const ScanMatch& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.row < b.row;
    });
    return matches;
}

template std::vector<ScanMatch> MarkerScanner::all_matches(text::Text<std::uint8_t>) const;
template std::vector<ScanMatch> MarkerScanner::all_matches(text::Text<std::uint16_t>) const;
template std::vector<ScanMatch> MarkerScanner::all_matches(text::Text<std::uint32_t>) const;

template std::vector<std::size_t> MarkerScanner::first_lines(text::Text<std::uint8_t>) const;
template std::vector<std::size_t> MarkerScanner::first_lines(text::Text<std::uint16_t>) const;
template std::vector<std::size_t> MarkerScanner::first_lines(text::Text<std::uint32_t>) const;

}  // namespace quorvane::dialectra
