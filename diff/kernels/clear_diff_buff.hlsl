// clearDiffBuffCS: zeroes the result buffer, one word per thread. Threads past the end of the buffer write
// nothing (writes outside an unordered-access view are dropped).
RWStructuredBuffer<uint> diffBuff : register(u0);

[numthreads(16, 1, 1)]
void clearDiffBuffCS(uint3 id : SV_DispatchThreadID)
{
    diffBuff[id.x] = 0;
}
