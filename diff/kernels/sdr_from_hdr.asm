// sdrFromHdrCS, see sdr_from_hdr.hlsl.
// r0.x list entry, then the pixel of the picture (r0.xy); r2 first the frame's load address (r0.xy + origin, 0,
// mip 0); r1 E, then L, then the encoded value; r2 the largest channel, then the curve; r3 the linear part; r0.zw
// bounds tests before the load.
cs_5_0
dcl_globalFlags refactoringAllowed
dcl_constantbuffer cb0[2], immediateIndexed
dcl_resource_texture2d (float,float,float,float) t0
dcl_resource_structured t1, 4
dcl_uav_typed_texture2d (unorm,unorm,unorm,unorm) u0
dcl_input vThreadGroupID.xy
dcl_input vThreadIDInGroup.xy
dcl_temps 4
dcl_thread_group 32, 32, 1
imad r0.x, vThreadGroupID.y, l(32768), vThreadGroupID.x
uge r0.y, r0.x, cb0[0].z
if_nz r0.y
  ret
endif
ld_structured r0.x, r0.x, l(0), t1.xxxx
and r0.y, r0.x, l(0xffff)
ushr r0.z, r0.x, l(16)
imad r0.xy, r0.yzyy, l(32, 32, 0, 0), vThreadIDInGroup.xyxx
uge r0.zw, r0.xxxy, cb0[0].xxxy
or r0.z, r0.z, r0.w
if_nz r0.z
  ret
endif
iadd r2.xy, r0.xyxx, cb0[1].xyxx
mov r2.zw, l(0, 0, 0, 0)
ld r1.xyzw, r2.xyzw, t0.xyzw
max r1.xyz, r1.xyzx, l(0.0, 0.0, 0.0, 0.0)
min r1.xyz, r1.xyzx, l(65504.0, 65504.0, 65504.0, 0.0)
mul r1.xyz, r1.xyzx, cb0[0].wwww
max r2.x, r1.y, r1.z
max r2.x, r1.x, r2.x
max r2.x, r2.x, l(1.0)
div r1.xyz, r1.xyzx, r2.xxxx
log r2.xyz, r1.xyzx
mul r2.xyz, r2.xyzx, l(0.416666657, 0.416666657, 0.416666657, 0.0)
exp r2.xyz, r2.xyzx
mad r2.xyz, r2.xyzx, l(1.05499995, 1.05499995, 1.05499995, 0.0), l(-0.0549999997, -0.0549999997, -0.0549999997, 0.0)
mul r3.xyz, r1.xyzx, l(12.9200001, 12.9200001, 12.9200001, 0.0)
ge r1.xyz, l(0.00313080009, 0.00313080009, 0.00313080009, 0.0), r1.xyzx
movc r1.xyz, r1.xyzx, r3.xyzx, r2.xyzx
mov_sat r1.w, r1.w
store_uav_typed u0.xyzw, r0.xyyy, r1.xyzw
ret
