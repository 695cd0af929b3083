// TStrings: an ordered list of text lines without line ends.
//
// Encoded attachments can run to hundreds of megabytes of 76-character
// lines, so the lines are kept in one contiguous character buffer with an
// index of line ends instead of one heap string per line: a line costs its
// characters plus one offset.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

class TStrings {
public:
    TStrings() = default;
    TStrings(std::initializer_list<std::string_view> lines);

    std::size_t Count() const { return FEnds.size(); }
    bool Empty() const { return FEnds.empty(); }
    std::string_view operator[](std::size_t index) const;
    std::string_view Get(std::size_t index) const { return (*this)[index]; }
    std::string_view Last() const { return (*this)[Count() - 1]; }

    void Add(std::string_view line);
    // Appends a line of `length` characters and returns where to write them;
    // the pointer stays valid until the next change of the list. Inline: the
    // encoders call it once per output line.
    char* AddUninitialized(std::size_t length)
    {
        const std::size_t start = FBuffer.size();
        FBuffer.resize(start + length);
        FEnds.push_back(FBuffer.size());
        return FBuffer.data() + start;
    }
    void Insert(std::size_t index, std::string_view line);
    void Put(std::size_t index, std::string_view line);
    void Delete(std::size_t index);
    void Clear();
    void AddStrings(const TStrings& other);
    // Replaces the lines with those of `other` (assigning a list copies it).
    void Assign(const TStrings& other) { if (this != &other) *this = other; }

    // Hints for lists whose final size is known, so that a large block is
    // allocated once instead of growing by copies.
    void Reserve(std::size_t characters, std::size_t lines);
    void ShrinkToFit();

    // Every line followed by CR LF.
    std::string Text() const;
    // Characters held, without line ends.
    std::size_t CharacterCount() const { return FBuffer.size(); }
    // Approximate heap bytes held by the list.
    std::size_t MemoryUsage() const;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = std::string_view;
        const_iterator() = default;
        const_iterator(const TStrings* list, std::size_t index) : FList(list), FIndex(index) {}
        std::string_view operator*() const { return (*FList)[FIndex]; }
        const_iterator& operator++() { ++FIndex; return *this; }
        const_iterator operator++(int) { auto old = *this; ++FIndex; return old; }
        difference_type operator-(const const_iterator& o) const { return difference_type(FIndex) - difference_type(o.FIndex); }
        bool operator==(const const_iterator& o) const { return FIndex == o.FIndex; }
    private:
        const TStrings* FList = nullptr;
        std::size_t FIndex = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, Count()}; }

    bool operator==(const TStrings& other) const;
    std::vector<std::string> ToVector() const;

private:
    std::size_t StartOf(std::size_t index) const { return index == 0 ? 0 : FEnds[index - 1]; }

    std::string FBuffer;
    std::vector<std::size_t> FEnds;   // FEnds[i]: offset just past line i
};
