// A C++ client of litterpose_node includes the installed message headers.
#include <litterpose_msgs/EstimateGrasp.h>
#include <litterpose_msgs/GraspResult.h>
#include <litterpose_msgs/ObjectCloud.h>

int main() {
  litterpose_msgs::EstimateGrasp call;
  call.request.trash_type = 3;
  return call.response.result.status == litterpose_msgs::GraspResult::OK ? 0 : 1;
}
