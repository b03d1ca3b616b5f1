#include "InstrumentView.h"

namespace r310 {

InstrumentView::~InstrumentView() = default;

} // namespace r310
