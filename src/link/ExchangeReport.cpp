#include "ExchangeReport.h"


namespace r310 {

ExchangeReport::~ExchangeReport() = default;

} // namespace r310
