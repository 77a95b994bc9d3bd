#include "states/code_buffer.h"

#include <cstddef>
#include <numeric>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using Code = CodeBuffer_t<unsigned char, true>;

enum class Storage { inline_bytes, heap, borrowed };

std::string name_of(Storage storage) {
    switch (storage) {
        case Storage::inline_bytes:
            return "Inline";
        case Storage::heap:
            return "Heap";
        default:
            return "Borrowed";
    }
}

// Bytes that differ from one source to the next, so that a copy of the wrong one shows.
std::vector<unsigned char> bytes_of(std::size_t size, unsigned char first) {
    std::vector<unsigned char> bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// A buffer of each storage over `bytes`, which must outlive a borrowed one.
Code make(Storage storage, const std::vector<unsigned char>& bytes) {
    if (storage == Storage::borrowed) return Code::borrow(bytes.data(), bytes.size());
    return Code(bytes.data(), bytes.size());
}

std::size_t size_for(Storage storage) {
    return storage == Storage::inline_bytes ? 5 : 40;
}

void expect_holds(const Code& code, const std::vector<unsigned char>& bytes) {
    ASSERT_EQ(code.size(), bytes.size());
    EXPECT_EQ(std::vector<unsigned char>(code.begin(), code.end()), bytes);
}

void expect_storage(const Code& code, Storage storage) {
    EXPECT_EQ(code.is_inline(), storage == Storage::inline_bytes);
    EXPECT_EQ(code.is_owned(), storage == Storage::heap);
    EXPECT_EQ(code.is_borrowed(), storage == Storage::borrowed);
}

// What a copy of a buffer of each storage holds: a borrowed code is copied into an owned one.
Storage copied(Storage storage) {
    return storage == Storage::inline_bytes ? Storage::inline_bytes : Storage::heap;
}

TEST(CodeBuffer, SizesPickTheStorage) {
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{8}}) {
        const auto bytes = bytes_of(size, 1);
        for (const Code& code : {Code(bytes.data(), size), Code::borrow(bytes.data(), size)}) {
            expect_storage(code, Storage::inline_bytes);
            expect_holds(code, bytes);
        }
    }
    for (std::size_t size : {std::size_t{9}, std::size_t{200}, std::size_t{Code::max_size}}) {
        const auto bytes = bytes_of(size, 1);
        const Code owned(bytes.data(), size);
        expect_storage(owned, Storage::heap);
        expect_holds(owned, bytes);
        EXPECT_NE(owned.data(), bytes.data());
        const Code borrowed = Code::borrow(bytes.data(), size);
        expect_storage(borrowed, Storage::borrowed);
        EXPECT_EQ(borrowed.data(), bytes.data());
    }
    EXPECT_EQ(Code().size(), 0u);
    EXPECT_EQ(Code(20).size(), 20u);
    const std::vector<unsigned char> too_long(Code::max_size + 1);
    test_support::expect_throw_message<std::runtime_error>(
        [&] { Code code(too_long.data(), too_long.size()); },
        "Fock state code is capped to 8191 photons");
    test_support::expect_throw_message<std::runtime_error>(
        [&] { Code::borrow(too_long.data(), too_long.size()); },
        "Fock state code is capped to 8191 photons");
}

TEST(CodeBuffer, WritingABorrowedCodeCopiesItFirst) {
    const auto bytes = bytes_of(30, 1);
    Code code = Code::borrow(bytes.data(), bytes.size());
    code.mutable_data()[0] = 99;
    expect_storage(code, Storage::heap);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(code[0], 99);
    EXPECT_EQ(code[29], 30);

    Code owned(bytes.data(), bytes.size());
    const unsigned char* heap = owned.data();
    owned.own();
    EXPECT_EQ(owned.mutable_data(), heap);
}

class CodeBufferPair : public testing::TestWithParam<std::tuple<Storage, Storage>> {};

// Copies hold their own bytes; the source keeps its bytes and storage.
TEST_P(CodeBufferPair, Copies) {
    const auto [to, from] = GetParam();
    const auto source_bytes = bytes_of(size_for(from), 1);
    const auto target_bytes = bytes_of(size_for(to), 100);
    const Code source = make(from, source_bytes);

    Code constructed(source);
    Code assigned = make(to, target_bytes);
    assigned = source;
    for (Code* copy : {&constructed, &assigned}) {
        expect_holds(*copy, source_bytes);
        expect_storage(*copy, copied(from));
        copy->mutable_data()[0] = 77;
    }
    // Against fresh bytes: a write through a borrowed pointer would change both sides alike.
    expect_holds(source, bytes_of(size_for(from), 1));
    expect_storage(source, from);
    EXPECT_EQ(target_bytes, bytes_of(size_for(to), 100));
}

// Moves take the bytes (a heap or borrowed pointer as it is) and leave the source empty and usable.
TEST_P(CodeBufferPair, Moves) {
    const auto [to, from] = GetParam();
    const auto source_bytes = bytes_of(size_for(from), 1);
    const auto target_bytes = bytes_of(size_for(to), 100);

    Code source = make(from, source_bytes);
    const unsigned char* pointer = source.data();
    Code constructed(std::move(source));
    Code other_source = make(from, source_bytes);
    Code assigned = make(to, target_bytes);
    assigned = std::move(other_source);
    for (const Code* moved : {&constructed, &assigned}) {
        expect_holds(*moved, source_bytes);
        expect_storage(*moved, from);
    }
    if (from != Storage::inline_bytes) {
        EXPECT_EQ(constructed.data(), pointer);
    }
    for (Code* emptied : {&source, &other_source}) {
        EXPECT_EQ(emptied->size(), 0u);
        expect_storage(*emptied, Storage::inline_bytes);
        *emptied = constructed;
        expect_holds(*emptied, source_bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Storages, CodeBufferPair,
    testing::Combine(testing::Values(Storage::inline_bytes, Storage::heap, Storage::borrowed),
                     testing::Values(Storage::inline_bytes, Storage::heap, Storage::borrowed)),
    [](const testing::TestParamInfo<std::tuple<Storage, Storage>>& info) {
        return name_of(std::get<0>(info.param)) + "From" + name_of(std::get<1>(info.param));
    });

class CodeBufferSelf : public testing::TestWithParam<Storage> {};

// Assigning a buffer to itself, by copy or by move, keeps its bytes, storage and pointer.
TEST_P(CodeBufferSelf, AssignmentToItselfChangesNothing) {
    const auto bytes = bytes_of(size_for(GetParam()), 1);
    Code code = make(GetParam(), bytes);
    const unsigned char* pointer = code.data();
    Code& alias = code;  // through a reference, as generic code would do it
    code = alias;
    expect_holds(code, bytes);
    expect_storage(code, GetParam());
    EXPECT_EQ(code.data(), pointer);
    code = std::move(alias);
    expect_holds(code, bytes);
    expect_storage(code, GetParam());
    EXPECT_EQ(code.data(), pointer);
}

INSTANTIATE_TEST_SUITE_P(Storages, CodeBufferSelf,
                         testing::Values(Storage::inline_bytes, Storage::heap, Storage::borrowed),
                         [](const testing::TestParamInfo<Storage>& info) {
                             return name_of(info.param);
                         });

}  // namespace
