#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrum {

// An owning collection in insertion order with keyed lookup and 1-based positional access.
// The key is read from the element itself (KeyOf), so it is stored once. Keys are unique:
// Add refuses a key that is already present.
template <typename T, const std::string& (*KeyOf)(const T&)>
class KeyedList {
 public:
  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }

  // Appends item; returns the stored element, or nullptr when its key is taken (item is dropped).
  T* Add(std::unique_ptr<T> item) {
    auto [it, inserted] = index_.try_emplace(std::string_view(KeyOf(*item)), item.get());
    if (!inserted) return nullptr;
    items_.push_back(std::move(item));
    return items_.back().get();
  }

  // 1-based position; nullptr outside 1..Count().
  T* Item(std::size_t position) const {
    return position >= 1 && position <= items_.size() ? items_[position - 1].get() : nullptr;
  }
  T* Find(std::string_view key) const {
    auto it = index_.find(key);
    return it == index_.end() ? nullptr : it->second;
  }

  // Removes the element at a 1-based position; later positions shift down by one.
  std::unique_ptr<T> RemoveAt(std::size_t position) {
    if (position < 1 || position > items_.size()) return nullptr;
    std::unique_ptr<T> out = std::move(items_[position - 1]);
    index_.erase(std::string_view(KeyOf(*out)));
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(position - 1));
    return out;
  }
  // Removes the element with this key, if any.
  std::unique_ptr<T> Remove(std::string_view key) {
    T* p = Find(key);
    if (!p) return nullptr;
    for (std::size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == p) return RemoveAt(i + 1);
    return nullptr;
  }

  void Clear() {
    index_.clear();
    items_.clear();
  }
  void Reserve(std::size_t n) {
    items_.reserve(n);
    index_.reserve(n);
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::unordered_map<std::string_view, T*> index_;
};

}  // namespace kestrum
