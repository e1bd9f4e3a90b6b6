// roscpp's readers of a subscription's messages and a service's requests behind a length
// check (message_lengths.h), through roscpp's own extension points
// (SubscribeOptions::helper, AdvertiseServiceOptions::helper): a message that declares
// more than it holds is never read; it goes to the `refused` handler instead, in the
// thread that would have run the callback.
#ifndef LITTERPOSE_ROS_CHECKED_CALLBACKS_H
#define LITTERPOSE_ROS_CHECKED_CALLBACKS_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <boost/make_shared.hpp>
#include <ros/advertise_service_options.h>
#include <ros/service_callback_helper.h>
#include <ros/subscribe_options.h>
#include <ros/subscription_callback_helper.h>

#include "litterpose_ros/message_lengths.h"

namespace litterpose_ros {

using LengthCheckFunction = LengthCheck (*)(std::uint8_t* bytes, std::uint32_t size);

template <typename M>
class CheckedSubscriptionHelper
    : public ros::SubscriptionCallbackHelperT<const boost::shared_ptr<M const>&> {
public:
  using Base = ros::SubscriptionCallbackHelperT<const boost::shared_ptr<M const>&>;
  using Refused = std::function<void(const LengthCheck&)>;

  CheckedSubscriptionHelper(const typename Base::Callback& callback, LengthCheckFunction check,
                            Refused refused)
      : Base(callback), check_(check), refused_(std::move(refused)) {}

  // A null message: roscpp drops it without calling the callback.
  ros::VoidConstPtr deserialize(const ros::SubscriptionCallbackHelperDeserializeParams& params)
      override {
    const LengthCheck checked = check_(params.buffer, params.length);
    if (checked.refusal) {
      refused_(checked);
      return {};
    }
    return Base::deserialize(params);
  }

private:
  LengthCheckFunction check_;
  Refused refused_;
};

template <typename Request, typename Response>
class CheckedServiceHelper
    : public ros::ServiceCallbackHelperT<ros::ServiceSpec<Request, Response>> {
public:
  using Base = ros::ServiceCallbackHelperT<ros::ServiceSpec<Request, Response>>;
  using Refused = std::function<Response(const LengthCheck&)>;

  CheckedServiceHelper(const typename Base::Callback& callback, LengthCheckFunction check,
                       Refused refused)
      : Base(callback), check_(check), refused_(std::move(refused)) {}

  // A refused request is answered, successfully, with the handler's response.
  bool call(ros::ServiceCallbackHelperCallParams& params) override {
    ros::SerializedMessage& request = params.request;
    const auto size =
        static_cast<std::uint32_t>(request.num_bytes - (request.message_start - request.buf.get()));
    const LengthCheck checked = check_(request.message_start, size);
    if (!checked.refusal) return Base::call(params);
    params.response = ros::serialization::serializeServiceResponse(true, refused_(checked));
    return true;
  }

private:
  LengthCheckFunction check_;
  Refused refused_;
};

// Options for NodeHandle::subscribe and NodeHandle::advertiseService with the check.
template <typename M>
ros::SubscribeOptions checkedSubscription(
    const std::string& topic, std::uint32_t queue_size,
    const boost::function<void(const boost::shared_ptr<M const>&)>& callback,
    LengthCheckFunction check, typename CheckedSubscriptionHelper<M>::Refused refused) {
  ros::SubscribeOptions options;
  options.template init<M>(topic, queue_size, callback);
  options.helper =
      boost::make_shared<CheckedSubscriptionHelper<M>>(callback, check, std::move(refused));
  return options;
}

template <typename Service>
ros::AdvertiseServiceOptions checkedService(
    const std::string& name,
    const boost::function<bool(typename Service::Request&, typename Service::Response&)>& callback,
    LengthCheckFunction check,
    typename CheckedServiceHelper<typename Service::Request, typename Service::Response>::Refused
        refused) {
  ros::AdvertiseServiceOptions options;
  options.template init<typename Service::Request, typename Service::Response>(name, callback);
  options.helper = boost::make_shared<
      CheckedServiceHelper<typename Service::Request, typename Service::Response>>(
      callback, check, std::move(refused));
  return options;
}

}  // namespace litterpose_ros

#endif
