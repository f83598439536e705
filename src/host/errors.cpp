#include "host/errors.hpp"

#include <exception>
#include <new>

#include "shared/regex.hpp"

namespace quorvane::host {

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const rx::EngineOutOfMemory&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected internal error");
    }
}

}  // namespace quorvane::host
