// diffBitsCS, see diff_bits.hlsl.
// r0.xy start, r0.zw end; r1 load address (px, py, 0, mip 0) of the old texture, r5 of the new (+ origin); r2, r3 texels; r4.x v, r4.y loop test.
cs_5_0
dcl_globalFlags refactoringAllowed
dcl_constantbuffer cb0[2], immediateIndexed
dcl_resource_texture2d (float,float,float,float) t0
dcl_resource_texture2d (float,float,float,float) t1
dcl_uav_typed_texture2d (uint,uint,uint,uint) u0
dcl_input vThreadID.xy
dcl_temps 6
dcl_thread_group 16, 16, 1
imul null, r0.xy, vThreadID.xyxx, cb0[0].zwzz
uge r1.xy, r0.xyxx, cb0[0].xyxx
or r1.x, r1.x, r1.y
if_nz r1.x
  ret
endif
iadd r0.zw, r0.xxxy, cb0[0].xxzw
umin r0.zw, r0.zzzw, cb0[0].xxxy
mov r4.x, l(0)
mov r1.x, r0.x
mov r1.zw, l(0, 0, 0, 0)
mov r5.zw, l(0, 0, 0, 0)
loop
  uge r4.y, r1.x, r0.z
  breakc_nz r4.y
  mov r1.y, r0.y
  loop
    uge r4.y, r1.y, r0.w
    breakc_nz r4.y
    iadd r5.xy, r1.xyxx, cb0[1].xyxx
    ld r2.xyz, r5.xyzw, t0.xyzw
    ld r3.xyz, r1.xyzw, t1.xyzw
    ine r2.xyz, r2.xyzx, r3.xyzx
    or r2.x, r2.x, r2.y
    or r4.x, r2.x, r2.z
    breakc_nz r4.x
    iadd r1.y, r1.y, l(1)
  endloop
  breakc_nz r4.x
  iadd r1.x, r1.x, l(1)
endloop
store_uav_typed u0.xyzw, vThreadID.xyyy, r4.xxxx
ret
