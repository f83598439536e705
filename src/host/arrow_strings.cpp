#include "host/arrow_strings.hpp"

#include <cstring>

namespace quorvane::host {

std::optional<ArrowStrings> ArrowStrings::from(PyObject* source) {
    Ref method(PyObject_GetAttrString(source, "__arrow_c_array__"));
    if (!method) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
        return std::nullopt;
    }
    Ref pair(PyObject_CallNoArgs(method.get()));
    if (!pair) return std::nullopt;
    if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
        PyErr_SetString(PyExc_TypeError, "__arrow_c_array__() must return a (schema, array) pair of capsules");
        return std::nullopt;
    }
    ArrowStrings column;
    column.schema_capsule_ = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 0));
    column.array_capsule_ = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 1));
    auto* schema = static_cast<ArrowSchema*>(PyCapsule_GetPointer(column.schema_capsule_.get(), "arrow_schema"));
    if (!schema) return std::nullopt;
    auto* array = static_cast<ArrowArray*>(PyCapsule_GetPointer(column.array_capsule_.get(), "arrow_array"));
    if (!array) return std::nullopt;
    if (!schema->release || !array->release || !schema->format) {
        PyErr_SetString(PyExc_ValueError, "the Arrow column was already released");
        return std::nullopt;
    }
    // "u" is string (32-bit offsets), "U" large_string (64-bit offsets).
    const bool string = std::strcmp(schema->format, "u") == 0, large = std::strcmp(schema->format, "U") == 0;
    if (!string && !large) {
        PyErr_Format(PyExc_TypeError, "texts must be an Arrow string or large_string column, not format %.20s",
                     schema->format);
        return std::nullopt;
    }
    if (array->n_buffers != 3 || array->length < 0 || array->offset < 0 ||
        (array->length > 0 && array->buffers[1] == nullptr)) {
        PyErr_SetString(PyExc_ValueError, "malformed Arrow string column");
        return std::nullopt;
    }
    column.array_ = array;
    column.large_ = large;
    return column;
}

std::optional<std::string_view> ArrowStrings::row(std::int64_t i) const noexcept {
    const std::int64_t at = array_->offset + i;
    const auto* validity = static_cast<const std::uint8_t*>(array_->buffers[0]);
    if (array_->null_count != 0 && validity && !(validity[at >> 3] >> (at & 7) & 1)) return std::nullopt;
    std::int64_t begin, end;
    if (large_) {
        const auto* offsets = static_cast<const std::int64_t*>(array_->buffers[1]);
        begin = offsets[at], end = offsets[at + 1];
    } else {
        const auto* offsets = static_cast<const std::int32_t*>(array_->buffers[1]);
        begin = offsets[at], end = offsets[at + 1];
    }
    const auto* data = static_cast<const char*>(array_->buffers[2]);
    if (end <= begin || !data) return std::string_view();
    return std::string_view(data + begin, static_cast<std::size_t>(end - begin));
}

}  // namespace quorvane::host
