// A string column handed over through the Arrow C data interface
// (`__arrow_c_array__`, as pyarrow arrays and other Arrow libraries export
// them): its rows read in place, as UTF-8 bytes, with no host string made
// for each.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

#include "host/ref.hpp"

namespace quorvane::host {

// The two structs of the Arrow C data interface, a stable ABI.
struct ArrowSchema {
    const char* format;
    const char* name;
    const char* metadata;
    std::int64_t flags;
    std::int64_t n_children;
    ArrowSchema** children;
    ArrowSchema* dictionary;
    void (*release)(ArrowSchema*);
    void* private_data;
};

struct ArrowArray {
    std::int64_t length;
    std::int64_t null_count;
    std::int64_t offset;
    std::int64_t n_buffers;
    std::int64_t n_children;
    const void** buffers;
    ArrowArray** children;
    ArrowArray* dictionary;
    void (*release)(ArrowArray*);
    void* private_data;
};

// A column of type string or large_string, held for as long as this lives
// (the exporter's capsules release it).  Reading rows needs no interpreter
// lock.
class ArrowStrings {
   public:
    // The column `source` exports, or nullopt: with the host's exception set
    // when exporting fails or the column holds another type, without one when
    // `source` has no `__arrow_c_array__` at all.
    static std::optional<ArrowStrings> from(PyObject* source);

    std::int64_t size() const noexcept { return array_->length; }
    // The row's bytes, or nullopt for a null.
    std::optional<std::string_view> row(std::int64_t i) const noexcept;

   private:
    Ref schema_capsule_, array_capsule_;
    const ArrowArray* array_ = nullptr;
    bool large_ = false;
};

}  // namespace quorvane::host
