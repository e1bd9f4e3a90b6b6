// The principal axes of a prepared object cloud, its centre and its extents along them
// (PCAFunc).
#include <pcl/common/pca.h>

#include "internal/console.h"
#include "internal/shape_analysis.h"
#include "litterpose.h"

namespace litterpose::shape {

using console::line;

void principalSection(GrabPoseEstimate& e, const GrabPoseEstimate::CloudPtr& cloud,
                      CloudShape& shape) {
  line(e, PURPLE_BOLD, "------------------------------PCA-----------------------------------");
  const auto start = console::Clock::now();
  if (!cloud || cloud->size() < 3) {
    // The library's own refusal: its initialisation-failure exception and message.
    pcl::PCA<pcl::PointXYZ> pca(true);
    pca.setInputCloud(cloud);
    pca.getEigenVectors();
  }
  const CloudShape::Principal& p = shape.principal();
  e.pca_vectors_ = p.vectors;
  e.pca_center_ = p.mean;
  line(e, CYAN_BOLD, "点云中心点坐标：", e.pca_center_[0], " ", e.pca_center_[1], " ", e.pca_center_[2],
       " ", e.pca_center_[3]);
  e.pca_lengths_ = p.lengths;
  line(e, MAGENTA_BOLD, "点云在各个特征向量方向上的长度为：", MAGENTA_BOLD, e.pca_lengths_[0], " ",
       MAGENTA_BOLD, e.pca_lengths_[1], " ", MAGENTA_BOLD, e.pca_lengths_[2], " ");
  line(e, RED_BOLD, "PcaFunc cost ", console::cost_ms(start), " ms");
}

}  // namespace litterpose::shape

void GrabPoseEstimate::PCAFunc(const CloudPtr& cloud) {
  litterpose::shape::CloudShape analysis(litterpose::shape::pointsOf(cloud), litterpose::shape::CloudShape::kPrincipal);
  litterpose::shape::principalSection(*this, cloud, analysis);
}
