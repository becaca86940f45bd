# Sourced by the bench scripts: one writer of CONFIG.DAT for all of them.
#
# bench_config TITLE [KEY=VALUE ...] prints a whole CONFIG.DAT: nine banner lines naming the bench,
# then every key in file order with the defaults below (minimal expected makespan, resource data
# only, exponential durations, values in memory) and the given keys changed. tervano never reads
# the label lines, so the key in brackets serves as the label. A key that is not below stops the
# bench, so a misspelt override cannot silently measure the default.
bench_config() {
  bench_title=$1
  shift
  awk -v title="$bench_title" '
    BEGIN {
      for (i = 1; i < ARGC; i++) {
        eq = index(ARGV[i], "=")
        if (eq == 0) { print "bench_config: not KEY=VALUE: " ARGV[i] > "/dev/stderr"; bad = 1 }
        override[substr(ARGV[i], 1, eq - 1)] = substr(ARGV[i], eq + 1)
        delete ARGV[i]
      }
      for (line = 1; line <= 9; line++) print "|||| " title " ||||"
    }
    {
      known[$1] = 1
      printf "[%s]\n%s\n", $1, (($1 in override) ? override[$1] : $2)
    }
    END {
      for (key in override)
        if (!(key in known)) { print "bench_config: unknown key " key > "/dev/stderr"; bad = 1 }
      exit bad
    }
  ' "$@" <<EOF
PJFileName none
PJFileExt .x
gv_CFG_fnr 1
gv_CFG_lnr 1
gv_bits 16
gv_CFG_mxn_UDC 100000000
gv_CFG_mxn_UDC_links 10
gv_CFG_mxn_UDC_prr -1
gv_CFG_mxn_ranks 3
gv_CFG_max_mem 100000
gv_CFG_OBJ 1
gv_CFG_OBJ2 -1
gv_CFG_OBJ3 -1
gv_CFG_OBJ4 -1
gv_CFG_write 0
gv_CFG_IO 0
gv_CFG_abandon 0
gv_CFG_irq 0
gv_CFG_cost_data 0
gv_CFG_mod_data 0
gv_CFG_mode_data 0
gv_CFG_pts_data 0
gv_CFG_pms_data 0
gv_CFG_rx_data 1
gv_CFG_SCV_data 0
gv_CFG_SCV 1
gv_CFG_hyper 0
gv_CFG_skew_data 0
gv_CFG_skew 0
gv_CFG_rate_data 0
gv_rate 0.01
EOF
}
