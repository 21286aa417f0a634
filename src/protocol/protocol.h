// The device's report layout and the byte types of the protocol core, at the
// lowest layer: the HID seam (src/usb), the image format (src/image) and the
// upgrade (src/upgrade) all include this header, so the report id and the
// report lengths are written down once. Standard C++ only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace protocol {

// The USB ids the updater's device enumerates with (HID, vendor and
// product); every program and the virtual device take them from here.
constexpr std::uint16_t kVendorId = 0x0483;
constexpr std::uint16_t kProductId = 0x0525;

// Every report of the updater's device starts with this report id.
constexpr std::uint8_t kReportId = 0x80;
// A command frame: one feature report, report id and ten bytes.
constexpr std::size_t kFeatureReportSize = 11;
// A reply: one input report, report id and nineteen bytes.
constexpr std::size_t kInputReportSize = 20;

using Bytes = std::vector<std::uint8_t>;

// A read-only view of bytes someone else owns, for the duration of a call.
// Made from a pointer and a size, or from any contiguous container of
// byte-sized elements with data() and size() (std::vector, std::string, the
// Qt layer's byte array).
class ByteView {
public:
    constexpr ByteView() = default;
    constexpr ByteView(const std::uint8_t* data, std::size_t size)
        : data_(data)
        , size_(size)
    {}
    template <class C, class E = std::remove_pointer_t<decltype(std::declval<const C&>().data())>,
              class = std::enable_if_t<sizeof(E) == 1>, class = decltype(std::declval<const C&>().size())>
    ByteView(const C& bytes) // NOLINT: implicit on purpose
        : data_(reinterpret_cast<const std::uint8_t*>(bytes.data()))
        , size_(bytes.size() > 0 ? std::size_t(bytes.size()) : 0)
    {}

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::uint8_t operator[](std::size_t i) const { return data_[i]; }
    const std::uint8_t* begin() const { return data_; }
    const std::uint8_t* end() const { return data_ + size_; }
    Bytes copy() const { return Bytes(begin(), end()); }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace protocol
