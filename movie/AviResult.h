// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The result codes of the movie layer's calls: AVIERR_OK, or the classic
// AVIERR_ value of what went wrong. A header of their own, so that the
// engine's files answer them without taking in the whole façade.
#include <cstdint>

using HRESULT_AVI = std::int32_t;

constexpr HRESULT_AVI AVIERR_OK = 0;
constexpr HRESULT_AVI AVIERR_UNSUPPORTED = static_cast<HRESULT_AVI>(0x80044065);
constexpr HRESULT_AVI AVIERR_BADFORMAT = static_cast<HRESULT_AVI>(0x80044066);
constexpr HRESULT_AVI AVIERR_MEMORY = static_cast<HRESULT_AVI>(0x80044067);
constexpr HRESULT_AVI AVIERR_INTERNAL = static_cast<HRESULT_AVI>(0x80044068);
constexpr HRESULT_AVI AVIERR_BADFLAGS = static_cast<HRESULT_AVI>(0x80044069);
constexpr HRESULT_AVI AVIERR_BADPARAM = static_cast<HRESULT_AVI>(0x8004406A);
constexpr HRESULT_AVI AVIERR_BADSIZE = static_cast<HRESULT_AVI>(0x8004406B);
constexpr HRESULT_AVI AVIERR_BADHANDLE = static_cast<HRESULT_AVI>(0x8004406C);
constexpr HRESULT_AVI AVIERR_FILEREAD = static_cast<HRESULT_AVI>(0x8004406D);
constexpr HRESULT_AVI AVIERR_FILEWRITE = static_cast<HRESULT_AVI>(0x8004406E);
constexpr HRESULT_AVI AVIERR_FILEOPEN = static_cast<HRESULT_AVI>(0x8004406F);
constexpr HRESULT_AVI AVIERR_COMPRESSOR = static_cast<HRESULT_AVI>(0x80044070);
constexpr HRESULT_AVI AVIERR_NOCOMPRESSOR = static_cast<HRESULT_AVI>(0x80044071);
constexpr HRESULT_AVI AVIERR_READONLY = static_cast<HRESULT_AVI>(0x80044072);
constexpr HRESULT_AVI AVIERR_NODATA = static_cast<HRESULT_AVI>(0x80044073);
constexpr HRESULT_AVI AVIERR_BUFFERTOOSMALL = static_cast<HRESULT_AVI>(0x80044074);
constexpr HRESULT_AVI AVIERR_CANTCOMPRESS = static_cast<HRESULT_AVI>(0x80044075);
constexpr HRESULT_AVI AVIERR_USERABORT = static_cast<HRESULT_AVI>(0x800440C6);
constexpr HRESULT_AVI AVIERR_ERROR = static_cast<HRESULT_AVI>(0x800440C7);
