// Scratch objects of the calling thread: made on the thread's first use,
// reused from call to call, freed when the thread ends.
//
// Not `thread_local`: in a dynamically loaded module the C library makes a
// thread's block of `thread_local` objects lazily, on its first access, and
// ends the process when that allocation fails.  Here the object is
// allocated explicitly, and any failure (the object, or the thread's slot
// for it) is std::bad_alloc, which the binding reports as MemoryError.
#pragma once

#include <pthread.h>

#include <cstddef>
#include <memory>
#include <new>

namespace quorvane {

// The calling thread's object of type T (default-constructed on first use).
// Each T has its own slot, so give each use a type of its own.
template <class T>
T& thread_scratch() {
    static const pthread_key_t key = [] {
        pthread_key_t made;
        if (pthread_key_create(&made, [](void* object) { delete static_cast<T*>(object); }) != 0) {
            throw std::bad_alloc();
        }
        return made;
    }();
    if (void* object = pthread_getspecific(key)) return *static_cast<T*>(object);
    auto made = std::make_unique<T>();
    if (pthread_setspecific(key, made.get()) != 0) throw std::bad_alloc();
    return *made.release();
}

// Gives back the storage of a scratch buffer (a vector, a string) that one
// large input made room for past `limit` entries: a thread keeps its
// buffers between calls, but not at the size of its largest input.
template <class Buffer>
void shrink_past(Buffer& buffer, std::size_t limit) {
    if (buffer.capacity() > limit) Buffer().swap(buffer);
}

}  // namespace quorvane
