#pragma once

#include <vector>

namespace Backend {

// A shape tree of the Steiner walk for n photons: one row per shape of degree below n that the
// tree visits, c_0 ... c_n (c_k modes holding exactly k photons, c_0 = n - occupied modes), then
// the raise list: the occupations b to which a node of that shape raises one mode (from b - 1)
// to make its children. Every partition of n, and every row's shape but the empty one, is the
// child of exactly one row and target.
using SteinerRow = std::vector<int>;
using SteinerGroup = std::vector<SteinerRow>;

// Group n - 2 serves n = 2 ... 14 photons; filled once at load and only read afterwards. Each
// group has the least work W(n) below for n <= 8; for larger n no single row can be dropped or
// replaced by a cheaper shape.
extern const std::vector<SteinerGroup> data_steiner;

// 2 <= n <= 14: the photon counts data_steiner serves.
bool isSteinerCompatible(int n);

// W(n): sum over the rows of degree d >= 1 of N d C(n, d), N the occupation vectors of the row's
// shape in n modes: the group's internal work in coefficient updates.
long long steinerWork(SteinerGroup const& group, int n);

}  // namespace Backend
