// packDiffBitsCS, see pack_diff_bits.hlsl.
// r0.x bits, r0.y first cell of the word, r0.z i, r0.w loop test; r1.xy cell address; r2 cell value and bit.
cs_5_0
dcl_globalFlags refactoringAllowed
dcl_constantbuffer cb0[1], immediateIndexed
dcl_uav_typed_texture2d (uint,uint,uint,uint) u0
dcl_uav_structured u1, 4
dcl_input vThreadID.xy
dcl_temps 3
dcl_thread_group 16, 16, 1
uge r0.xy, vThreadID.xyxx, cb0[0].xyxx
or r0.x, r0.x, r0.y
if_nz r0.x
  ret
endif
mov r0.x, l(0)
ishl r0.y, vThreadID.x, l(5)
mov r1.y, vThreadID.y
mov r0.z, l(0)
loop
  uge r0.w, r0.z, l(32)
  breakc_nz r0.w
  iadd r1.x, r0.y, r0.z
  uge r0.w, r1.x, cb0[0].z
  breakc_nz r0.w
  ld_uav_typed r2.x, r1.xyyy, u0.xxxx
  ine r2.x, r2.x, l(0)
  ishl r2.y, l(1), r0.z
  and r2.x, r2.x, r2.y
  or r0.x, r0.x, r2.x
  iadd r0.z, r0.z, l(1)
endloop
imad r0.y, vThreadID.y, cb0[0].x, vThreadID.x
store_structured u1.x, r0.y, l(0), r0.x
ret
