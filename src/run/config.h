// The run configuration: CONFIG.DAT, read once at the start of every mode, and the
// configuration block that the drivers copy to the head of their results files.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>

struct RunConfig {
  std::string PJFileName;
  std::string PJFileExt;
  int32_t gv_CFG_fnr = 0;
  int32_t gv_CFG_lnr = 0;
  int32_t gv_bits = 0;
  int32_t gv_CFG_mxn_UDC = 0;
  int32_t gv_CFG_mxn_UDC_links = 0;
  int32_t gv_CFG_mxn_UDC_prr = 0;
  int32_t gv_CFG_mxn_ranks = 0;
  double gv_CFG_max_mem = 0;
  int32_t gv_CFG_OBJ = 0;
  int32_t gv_CFG_OBJ2 = 0;
  int32_t gv_CFG_OBJ3 = 0;
  int32_t gv_CFG_OBJ4 = 0;
  int32_t gv_CFG_write = 0;
  int32_t gv_CFG_IO = 0;
  bool gv_CFG_abandon = false;
  bool gv_CFG_irq = false;
  bool gv_CFG_cost_data = false;
  bool gv_CFG_mod_data = false;
  bool gv_CFG_mode_data = false;
  bool gv_CFG_pts_data = false;
  bool gv_CFG_pms_data = false;
  bool gv_CFG_rx_data = false;
  int32_t gv_CFG_SCV_data = 0;
  double gv_CFG_SCV = 0;
  double gv_CFG_hyper = 0;
  int32_t gv_CFG_skew_data = 0;
  double gv_CFG_skew = 0;
  int32_t gv_CFG_rate_data = 0;
  double gv_rate = 0;
};

extern RunConfig runConfig;

// Fills runConfig from CONFIG.DAT in the working directory.
void readConfiguration();

// The 71 lines of CONFIG.DAT's layout, filled with the values in force.
void writeConfigurationBlock(std::ostream& out);
