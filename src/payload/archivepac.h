// The PAC container: a fixed 94-byte header, then our own layout, which only
// QELTRON.dll and the packer read and write:
//   "QPK1" or "QPK2", file count (u32), then per file: name length (u16,
//   1..259 bytes), name (may hold "\" between folders), size (u64), CRC-32
//   of the bytes (u32), the bytes. Little-endian.
// Names are in the ANSI code page after "QPK1", in UTF-8 after "QPK2". The
// packer writes "QPK2" only for an archive with a name beyond ASCII: a
// library that knows only "QPK1" refuses it instead of misnaming files.
// Header-only so that the DLL and the packer share it without the library.
#pragma once

namespace pac {

const unsigned HEADER_SIZE = 94;
const unsigned char HEADER[HEADER_SIZE] = {
    'P', 'A', 'C', ' ', '-', ' ',                                              // 0
    0xA9,                                                                      // 6
    ' ', 'Q', 'U', 'I', 'L', ' ', 'S', 'o', 'f', 't', 'w', 'a', 'r', 'e', ' ', '1',  // 7
    '9', '9', '0', '-', '2', '0', '0', '0', ' ',                               // 23
    0x0D, 0x0A,                                                                // 32
    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',      // 34: 42 spaces
    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
    0x00, 0x0D, 0x0A, 0x1A,                                                    // 76
    0xD6, 0xA9, 0x06, 0x01, 0x2C, 0x01, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0xE0, 0x01,  // 80
};

const char LAYOUT_MAGIC[4] = {'Q', 'P', 'K', '1'};
const char LAYOUT_MAGIC_UTF8[4] = {'Q', 'P', 'K', '2'};
const unsigned NAME_MAX = 259;
const unsigned UNPACK_ORDINAL = 6;

}  // namespace pac
