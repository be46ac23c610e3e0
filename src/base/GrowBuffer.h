#pragma once
// GrowBuffer: a growable array of trivially copyable elements that owns its heap block.
//
// Capacity grows by one shared rule (see grow()) and never shrinks. Nothing is allocated
// until the buffer first grows. Memory exhaustion never throws: the buffer keeps its old
// block and content, the growing operation does nothing further, and the process-wide
// flag memoryExhausted() is raised so that the launch can stop cleanly.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace kvx {

// Set once any buffer fails to grow; never cleared.
bool memoryExhausted();
void noteMemoryExhausted();

// The capacity that the growth rule gives when `need` elements must fit into `capacity`.
int32_t grownCapacity(int32_t capacity, int32_t need);

template <typename T>
class GrowBuffer {
    static_assert(std::is_trivially_copyable<T>::value, "GrowBuffer holds plain elements");

public:
    GrowBuffer() = default;
    GrowBuffer(const GrowBuffer& other) { copyFrom(other); }
    GrowBuffer(GrowBuffer&& other) noexcept { takeFrom(other); }
    GrowBuffer& operator=(const GrowBuffer& other) {
        if (this != &other) {
            length_ = 0;
            copyFrom(other);
        }
        return *this;
    }
    GrowBuffer& operator=(GrowBuffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = nullptr;
            length_ = capacity_ = 0;
            takeFrom(other);
        }
        return *this;
    }
    virtual ~GrowBuffer() { std::free(data_); }

    // Plain buffers set the length and write nothing after it.
    virtual void setLength(int32_t n) {
        if (n < 0) n = 0;
        if (grow(n)) length_ = n;
    }

    T* data() { return data_; }
    const T* data() const { return data_; }
    int32_t length() const { return length_; }
    int32_t capacity() const { return capacity_; }

    // Appends `count` elements; false when memory ran out (nothing appended then).
    bool appendElements(const T* items, int32_t count) {
        if (count <= 0) return true;
        int32_t old = length_;
        if (!growFor(old, count)) return false;
        // Appending a piece of this very buffer: the block may move while growing.
        bool inside = items && data_ && items >= data_ && items < data_ + capacity_;
        ptrdiff_t offset = inside ? items - data_ : 0;
        setLength(old + count);
        if (length_ != old + count) return false;
        if (inside) items = data_ + offset;
        if (items) std::memmove(data_ + old, items, sizeof(T) * static_cast<size_t>(count));
        return true;
    }

    // Frees the block; length and capacity become 0.
    void freeStorage() {
        std::free(data_);
        data_ = nullptr;
        length_ = capacity_ = 0;
    }

protected:
    // Makes room for `need` elements by the growth rule. False when memory ran out.
    bool grow(int32_t need) {
        if (need <= capacity_) return true;
        int32_t next = grownCapacity(capacity_, need);
        if (next <= 0) {
            noteMemoryExhausted();
            return false;
        }
        void* block = std::realloc(data_, sizeof(T) * static_cast<size_t>(next));
        if (!block) {
            noteMemoryExhausted();
            return false;
        }
        data_ = static_cast<T*>(block);
        capacity_ = next;
        return true;
    }

    // Room check for appending `count` to `base` elements, guarding 32-bit overflow.
    bool growFor(int32_t base, int32_t count) {
        if (count > INT32_MAX - 1 - base) {
            noteMemoryExhausted();
            return false;
        }
        return true;
    }

    T* data_ = nullptr;
    int32_t length_ = 0;
    int32_t capacity_ = 0;

private:
    void copyFrom(const GrowBuffer& other) {
        if (other.length_ > 0 && grow(other.length_)) {
            std::memcpy(data_, other.data_, sizeof(T) * static_cast<size_t>(other.length_));
            length_ = other.length_;
        }
    }
    void takeFrom(GrowBuffer& other) {
        data_ = other.data_;
        length_ = other.length_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.length_ = other.capacity_ = 0;
    }
};

}  // namespace kvx
