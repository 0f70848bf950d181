// haldor: the management tool's window; CHaldor2App runs the whole program.
#include "haldor_app.h"

int main(int argc, char **argv)
{
  CHaldor2App app;
  return app.Run(argc, argv);
}
