// clearDiffBuffCS, see clear_diff_buff.hlsl.
cs_5_0
dcl_globalFlags refactoringAllowed
dcl_uav_structured u0, 4
dcl_input vThreadID.x
dcl_thread_group 16, 1, 1
store_structured u0.x, vThreadID.x, l(0), l(0)
ret
