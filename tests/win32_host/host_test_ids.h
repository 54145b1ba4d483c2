// The controls of the host test's own templates.
#pragma once

#define ID_NAME 1001
#define ID_READ_ONLY 1002
#define ID_DISABLED 1003
#define ID_FIXED 1004
#define ID_CASH 1005
#define ID_CARD 1006
#define ID_DEVICE 1007
#define ID_CITY 1008
#define ID_LINES 1009
#define ID_COUNT 1010
#define ID_HIDDEN 1011
#define ID_STATUS 1012
#define ID_OPERATOR 1013
#define ID_ADDRESS 1014
