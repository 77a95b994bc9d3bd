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

// Group n - 2 serves n = 2 ... 14 photons; filled once at load and only read afterwards. Up to 6
// photons the groups of least work are stored; beyond, they are built at load by pruning the
// complete tree of shapes, most costly shape first, while every shape keeps a parent.
extern const std::vector<SteinerGroup> data_steiner;

// 2 <= n <= 14: the photon counts data_steiner serves.
bool isSteinerCompatible(int n);

// The group for n photons built by pruning (exposed to check it against the stored ones).
SteinerGroup generateSteinerGroup(int n);

// W(n): sum over the rows of degree d >= 1 of N d C(n, d), N the occupation vectors of the row's
// shape in n modes: the group's internal work in coefficient updates.
double steinerWork(SteinerGroup const& group, int n);

}  // namespace Backend
