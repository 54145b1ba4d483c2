#include "drivers/com_driver.h"

namespace vrn {

iCOMDriver::~iCOMDriver() = default;

}  // namespace vrn
