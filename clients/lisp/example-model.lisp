;;;; example-model.lisp: a model that plays Fluxmere runs through fluxmere-client.lisp.
;;;;
;;;;   sbcl --script clients/lisp/example-model.lisp [--port N] [--host H] [--name NAME]
;;;;        [--share S] [--runs K] [--trace] [--quit]
;;;;
;;;; Each period it anchors on the amount it expects after the environment's flows (those
;;;; of the period before) and orders a share S (default 1) of the way to the goal. It plays
;;;; K runs (default 1), a reset between them, and prints each run's result; --trace prints
;;;; every state, --quit ends the program at the end. Exit status 1 on any failure.

(load (merge-pathnames "fluxmere-client.lisp" *load-truename*))

(defpackage #:fluxmere-example (:use #:common-lisp))
(in-package #:fluxmere-example)

(defun orders (state share)
  "The inflow and outflow orders for the coming period."
  (let ((gap (- (fluxmere:state-goal state)
                (+ (fluxmere:state-amount state)
                   (max 0 (fluxmere:state-ei state))
                   (- (max 0 (fluxmere:state-eo state)))))))
    (values (* share (max 0 gap)) (* share (max 0 (- gap))))))

(defun trace-state (state)
  (format t "period ~D amount ~,2F ei ~,3F eo ~,3F ui ~,3F uo ~,3F~%"
          (fluxmere:state-time state) (fluxmere:state-amount state)
          (fluxmere:state-ei state) (fluxmere:state-eo state)
          (fluxmere:state-ui state) (fluxmere:state-uo state)))

(defun play-run (client name share trace)
  "Logs in and plays to the end of the run; returns the number of periods played."
  (loop with state = (fluxmere:login client name)
        for periods from 0
        while state
        do (when (and trace (plusp periods))
             (trace-state state))
           (setf state (multiple-value-call #'fluxmere:decide client (orders state share)))
        finally (return (1- periods))))

(defun print-result (client run periods)
  (handler-case
      (destructuring-bind (&key inband payment last &allow-other-keys) (fluxmere:result client)
        (format t "run ~D: ~D periods, ~D in the band, payment $~,2F~:[ (not over)~;~]~%"
                run periods inband payment last))
    (fluxmere:fluxmere-unsupported ()
      (format t "run ~D: ~D periods (this program does not answer RESULT)~%" run periods))))

(defun option (arguments name default &optional (read #'identity))
  (let ((tail (member name arguments :test #'string=)))
    (if (and tail (rest tail)) (funcall read (second tail)) default)))

(defun read-real (text)
  (let ((value (ignore-errors (let ((*read-eval* nil)) (read-from-string text)))))
    (unless (realp value)
      (error "--share takes a number, not ~A" text))
    value))

(defun main (arguments)
  (let ((runs (option arguments "--runs" 1 #'parse-integer))
        (share (option arguments "--share" 1 #'read-real))
        (name (option arguments "--name" "lisp"))
        (trace (member "--trace" arguments :test #'string=)))
    (fluxmere:with-client (client :port (option arguments "--port" fluxmere:+default-port+
                                                #'parse-integer)
                                  :host (option arguments "--host" "127.0.0.1"))
      (dotimes (run runs)
        (when (plusp run)
          (fluxmere:reset client))
        (print-result client (1+ run) (play-run client name share trace)))
      (when (member "--quit" arguments :test #'string=)
        (fluxmere:quit client)))))

(handler-case (main (rest sb-ext:*posix-argv*))
  (error (e)
    (format *error-output* "example-model: ~A~%" e)
    (sb-ext:exit :code 1)))
