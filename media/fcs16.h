// FCS-16, the HDLC frame check sequence (reflected polynomial 0x8408,
// initial value 0xFFFF), kept in a byte-swapped register: each table entry
// has its two bytes exchanged, so the register is shifted left where the
// usual form shifts right. An intact frame run through it together with its
// two check bytes (least significant first) leaves kFcs16GoodSwapped, the
// usual good value 0xF0B8 with its bytes exchanged.
//
// Thread-safety: pure functions on a constant table.
#pragma once

#include <cstdint>

constexpr uint32_t kFcs16Initial = 0xFFFF;
constexpr uint32_t kFcs16GoodSwapped = 0xB8F0;

// The register after feeding `byte` to `fcs`. Only the low 16 bits of the
// argument matter; the result is masked to 16 bits.
uint32_t fcs16Update(uint32_t fcs, uint8_t byte);

// The check bytes a sender appends to `length` covered bytes, in the order
// they go on the wire: the ones' complement of the usual FCS-16, least
// significant byte first.
void fcs16CheckBytes(const uint8_t* bytes, int32_t length, uint8_t out[2]);
