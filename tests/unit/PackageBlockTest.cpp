#include <gtest/gtest.h>

#include "package/FwPackage.h"
#include "package/PackageView.h"

using namespace kestrel;

TEST(PackageBlock, TemplateHasSizeAndMarkers) {
    const PackageView v(OwnPackageBlock());
    ASSERT_EQ(v.Bytes().size(), 31472950u);
    EXPECT_EQ(v.Raw(pkg::kParaOpt, 9), "PARA_OPT=");
}
