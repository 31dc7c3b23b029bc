// Looking inside images from the command line: --inspect and --scan (with
// --extract) run here on their own; --salvage and --like are the steps a
// file's job takes when asked. The library decides and words every result
// (lzs_inspect, lzs_scan_next, lzs_salvage_alloc, lzs_encode_like and
// their texts); here are the files and the streams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/files.hpp"
#include "cli/jobs.hpp"
#include "cli/options.hpp"
#include "lzs.h"

namespace cli {

// lzs --inspect or --scan over options.inputs: each file's report on
// standard output, in the order given. Returns the exit status: 1 when a
// file could not be read (or, with --extract, an image not written), else 0.
int RunExamine(const Options& options);

// What a damaged image still holds, into output (grown as the library asks);
// the decoded size or the library's error, with info for lzs_describe.
std::size_t Salvage(const std::uint8_t* data, std::size_t size, Bytes& output, lzs_info& info);
// The warning of an image salvaged: "cut short: ... ; kept ...".
std::string SalvageWarning(lzs_info info, bool inputPartial);

// data packed as the image in the file options.like was packed, into image;
// the image's size, or 0 with the reason in why (the image that could not
// be read, or the library's error). reused and items count orig's items.
std::size_t PackLike(const Options& options, const Bytes& data, Bytes& image,
                     unsigned long long& reused, unsigned long long& items, std::string& why);

// The exit status of a run whose files all went well: 2 when any was a
// damaged image whose output was kept, else 0.
int SalvageStatus(const std::vector<Outcome>& outcomes);

}  // namespace cli
