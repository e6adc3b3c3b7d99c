#pragma once
// The option header and option digits of the package block, turned into run flags.
#include <string>

#include "app/RunContext.h"
#include "package/PackageView.h"

namespace kestrel {

// Reads the header bytes and the option positions into ctx, in the order the program reads them.
// False (with the position named in error) when a position is missing or is not a digit: the
// start-up then ends with 255, as a failed conversion does.
bool ReadPackageOptions(const PackageView& view, RunContext& ctx, std::string& error);

// gModelName from the first image's target revision; true when the package holds an image. When
// the package claims images but NEW_FW(0) is empty the result is false and error says why (the
// conversion failure that ends the start-up with 255); otherwise error is left empty.
bool GetModelName(const PackageView& view, RunContext& ctx, std::string& error);

}  // namespace kestrel
