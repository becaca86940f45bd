# Sourced by the bench scripts: one writer of CONFIG.DAT for all of them.
#
# bench_config PROGRAM [KEY=VALUE ...] prints a whole CONFIG.DAT as the program writes it
# (PROGRAM --config-template): the bench defaults below (minimal expected makespan, resource
# data only, exponential durations, values in memory), the program's own for every other key,
# and the given keys changed. The program refuses a key it does not know, so a misspelt
# override stops the bench instead of silently measuring the default.
bench_config() {
  bench_program=$1
  shift
  for bench_default in PJFileName=none PJFileExt=.x gv_CFG_lnr=1 gv_bits=16 gv_CFG_max_mem=100000 \
      gv_CFG_OBJ=1 gv_CFG_cost_data=0; do
    bench_given=
    for bench_argument in "$@"; do
      case $bench_argument in "${bench_default%%=*}="*) bench_given=1 ;; esac
    done
    [ -n "$bench_given" ] || set -- "$@" "$bench_default"
  done
  "$bench_program" --config-template "$@"
}
