/* A C program's view of VykTool: the public header compiled as strict C and
   every routine bound by name at link time. */
#include "VykToolApi.h"

#define VYKTOOL_BIND(name) .name = name,

static const struct VykToolApi linked = { VYKTOOL_EXPORT_NAMES(VYKTOOL_BIND) };

const struct VykToolApi *VykToolUnderTest(void)
{
    return &linked;
}
