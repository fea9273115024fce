#include "platform/emulated/shader_lanes.h"

#if CORVO_LANES_VECTOR_SETS
#define CORVO_LANE_GROUP_TARGET __attribute__((target("avx2"), flatten))
#include "platform/emulated/lane_group.h"

namespace corvo::emu::shader {

void run_lane_group_avx2(LaneFile &file, const LaneDispatch &dispatch, const uint32_t *group) {
    Group(file, dispatch).run(group);
}

}  // namespace corvo::emu::shader
#endif
