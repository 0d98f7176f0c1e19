// The floor of bench_sim_commands: a minimal Qt Core program, started and ended as a whole.
#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return 0;
}
