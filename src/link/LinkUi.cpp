#include "LinkUi.h"


namespace r310 {

LinkUi::~LinkUi() = default;

} // namespace r310
