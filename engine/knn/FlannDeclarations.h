#pragma once

// FLANN's index types for headers that hold or take an index; its headers
// are heavy and stay in the sources.
namespace flann {
template <class T>
struct L2;
template <typename Distance>
class KDTreeIndex;
} // namespace flann
