/* Picture scaling routines exported by libframescaler.so.
 *
 * Both routines scale a picture of 4-byte pixels into another of any size with 16.16 fixed
 * point steps: PicZoom by nearest neighbour, PicZoom_Bilinear by bilinear interpolation in
 * which byte 3 of a pixel fades toward 0 at the picture's edge. Row 0 is the first row in
 * memory; a negative stride walks the rows upward from that address. The destination keeps
 * the source's orientation and must not overlap it.
 *
 * Calls that cannot be served return without writing anything: a null reference or pixel
 * address, a negative width or height, or a source of 0 or of 32768 or more pixels on a
 * side. A destination of width or height 0 is left untouched. */
#ifndef FRAMESCALER_PICZOOM_H
#define FRAMESCALER_PICZOOM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Layout on 64-bit Linux (LP64), natural alignment, 24 bytes:
 *   offset  0  pixels  8-byte address of the first byte of row 0
 *   offset  8  stride  signed 32-bit distance in bytes from one row to the next
 *   offset 12  width   signed 32-bit pixels per row
 *   offset 16  height  signed 32-bit number of rows
 *   offset 20  4 bytes of tail padding */
typedef struct PixelBufferRef {
    void* pixels;
    int32_t stride;
    int32_t width;
    int32_t height;
} PixelBufferRef;

#if defined(__x86_64__) || defined(__aarch64__)
#ifdef __cplusplus
static_assert(sizeof(PixelBufferRef) == 24, "PixelBufferRef is 24 bytes");
static_assert(offsetof(PixelBufferRef, stride) == 8, "stride at offset 8");
static_assert(offsetof(PixelBufferRef, width) == 12, "width at offset 12");
static_assert(offsetof(PixelBufferRef, height) == 16, "height at offset 16");
#else
_Static_assert(sizeof(PixelBufferRef) == 24, "PixelBufferRef is 24 bytes");
_Static_assert(offsetof(PixelBufferRef, stride) == 8, "stride at offset 8");
_Static_assert(offsetof(PixelBufferRef, width) == 12, "width at offset 12");
_Static_assert(offsetof(PixelBufferRef, height) == 16, "height at offset 16");
#endif
#endif

/* Nearest neighbour: destination pixel (x, y) copies source pixel (x * stepX >> 16,
 * y * stepY >> 16), step = source size * 65536 / destination size + 1, clamped to the last
 * column or row. */
void PicZoom(const PixelBufferRef* destination, const PixelBufferRef* source);

/* Bilinear: destination pixel centres mapped into the source, 8-bit weights, each byte
 * blended horizontally then vertically with truncation; a neighbour outside the source reads
 * the nearest edge pixel with byte 3 cleared. */
void PicZoom_Bilinear(const PixelBufferRef* destination, const PixelBufferRef* source);

#ifdef __cplusplus
}
#endif

#endif
