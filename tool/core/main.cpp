#include "core/tillwright_app.h"

int main(int argc, char **argv) {
  tillwright::CTillwrightApp app;
  return app.Run(argc, argv);
}
