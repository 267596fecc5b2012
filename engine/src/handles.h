// Handle tables: a handle is (generation << 16) | (index + 1), so a stale
// handle never reaches a new object in the same place. Control thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace rb::detail {

template <typename T>
class HandleTable {
public:
    std::uint32_t add(std::unique_ptr<T> obj) {
        std::uint32_t index;
        if (!free_.empty()) {
            index = free_.back();
            free_.pop_back();
        } else {
            if (entries_.size() >= 0xFFFE) return 0;
            index = static_cast<std::uint32_t>(entries_.size());
            entries_.emplace_back();
        }
        Entry& e = entries_[index];
        e.gen = static_cast<std::uint16_t>(e.gen + 1 == 0 ? 1 : e.gen + 1);
        e.obj = std::move(obj);
        return (static_cast<std::uint32_t>(e.gen) << 16) | (index + 1);
    }

    T* get(std::uint32_t handle) const {
        const Entry* e = find(handle);
        return e ? e->obj.get() : nullptr;
    }

    std::unique_ptr<T> take(std::uint32_t handle) {
        Entry* e = const_cast<Entry*>(find(handle));
        if (!e) return nullptr;
        free_.push_back((handle & 0xFFFF) - 1);
        return std::move(e->obj);
    }

    static std::uint32_t indexOf(std::uint32_t handle) { return (handle & 0xFFFF) - 1; }

    template <typename F>
    void forEach(F&& f) const {
        for (const Entry& e : entries_)
            if (e.obj) f(*e.obj);
    }

    // Handles of the objects for which pred is true.
    template <typename P>
    std::vector<std::uint32_t> handlesWhere(P&& pred) const {
        std::vector<std::uint32_t> out;
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].obj && pred(*entries_[i].obj))
                out.push_back((static_cast<std::uint32_t>(entries_[i].gen) << 16) |
                              static_cast<std::uint32_t>(i + 1));
        return out;
    }

private:
    struct Entry {
        std::uint16_t gen = 0;
        std::unique_ptr<T> obj;
    };
    const Entry* find(std::uint32_t handle) const {
        if (handle == 0) return nullptr;
        const std::uint32_t index = (handle & 0xFFFF) - 1;
        if (index >= entries_.size()) return nullptr;
        const Entry& e = entries_[index];
        if (!e.obj || e.gen != (handle >> 16)) return nullptr;
        return &e;
    }
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> free_;
};

}  // namespace rb::detail
