#include "SerialBackend.h"

namespace r310 {

SerialBackend::~SerialBackend() = default;

} // namespace r310
